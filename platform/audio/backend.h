// backend.h — what the audio backends share; private to platform/audio.
//
// Each backend plays one stream, whose handle is `kStream`, and keeps its
// position in one unit: frames of the track (`TrackAudio::PlayedFrames`).
// The Audio interface's bytes of decoded 16-bit PCM (frames × channels × 2)
// and seconds are made from it in one place, `TrackAudio`, at the outermost
// layer the shell calls; the choices and the resuming layer pass frames on.
// Clocks (music_clock.h) take times in seconds of `MonotonicSeconds`, which
// is the clock the sound servers stamp their reports with (CLOCK_MONOTONIC on
// Linux).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "platform/audio/ogg_stream.h"
#include "platform/platform.h"

namespace platform::audio {

inline constexpr uint32_t kStream = 1;

inline double MonotonicSeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Bytes of the decoded stream to seconds; -1 for a stream that is not open.
inline double BytesToSeconds(uint32_t stream, bool open, uint64_t bytes, int rate, int channels) {
  if (stream != kStream || !open || rate <= 0 || channels <= 0) return -1.0;
  return static_cast<double>(bytes) / (static_cast<double>(rate) * channels * 2.0);
}

// A stream whose position is kept in frames of the track, turned into the
// Audio interface's byte positions and seconds here alone.
class TrackAudio : public Audio {
 public:
  struct Track {
    int rate = 0, channels = 0;  // rate 0: no stream is open
  };
  // The open stream's track.
  virtual Track Playing() = 0;
  // Frames of the track played so far, up to the one being heard, counted
  // from where this stream started; 0 while none is open.
  virtual int64_t PlayedFrames() = 0;

  uint64_t ChannelGetPosition(uint32_t stream) final {
    const Track track = Playing();
    if (stream != kStream || track.rate <= 0) return 0;
    return static_cast<uint64_t>(PlayedFrames()) * static_cast<uint64_t>(track.channels) * 2u;
  }
  double ChannelBytes2Seconds(uint32_t stream, uint64_t bytes) final {
    const Track track = Playing();
    return BytesToSeconds(stream, track.rate > 0, bytes, track.rate, track.channels);
  }
};

// What a backend adds so that the music survives its device or its server
// (resuming_audio.cpp): whether its output has gone, and a stream that
// starts part way into the track.
class ResumableAudio : public TrackAudio {
 public:
  // True once the output is lost (the server gone, the device unplugged or
  // no longer the default): nothing more is played and the position stands
  // where it was.
  virtual bool Lost() = 0;
  // The frame of the track the next StreamCreateFile starts at (0 unless
  // set); positions then count from there. A file that cannot seek so far
  // is refused.
  void StartAt(int64_t frame) { startFrame_ = frame; }

 protected:
  int64_t startFrame_ = 0;
};

// The first of a list of backends that opens the device and takes the
// stream: a backend that opens the device but never takes the stream (a
// PipeWire daemon without the session manager that links streams to its
// sink) is passed over like one that does not answer.
template <class Backend>
class Chooser {
 public:
  using Factory = std::unique_ptr<Backend> (*)();
  explicit Chooser(std::vector<Factory> backends) : backends_(std::move(backends)) {}

  // Opens the device on the first backend that can; false where none can.
  bool Init(int device, int frequency) {
    chosen_.reset();
    device_ = device;
    frequency_ = frequency;
    next_ = 0;
    return OpenNext();
  }

  // The chosen backend takes the stream (each one `prepare`d first), or
  // else the next that opens the device and takes it; 0 when none does. A
  // file that cannot be decoded is refused by every backend alike.
  template <typename Prepare>
  uint32_t Take(const char* path, Prepare prepare) {
    if (!chosen_ || !OggStream().Open(path)) return 0;
    for (;;) {
      prepare(*chosen_);
      if (const uint32_t stream = chosen_->StreamCreateFile(path)) return stream;
      chosen_->Free();
      chosen_.reset();
      if (!OpenNext()) return 0;
    }
  }

  Backend* chosen() const { return chosen_.get(); }
  // Where in the list the chosen backend stands.
  size_t chosenIndex() const { return next_ - 1; }
  std::unique_ptr<Backend> Release() { return std::move(chosen_); }

 private:
  bool OpenNext() {
    while (next_ < backends_.size()) {
      auto candidate = backends_[next_++]();
      if (candidate->Init(device_, frequency_)) {
        chosen_ = std::move(candidate);
        return true;
      }
    }
    return false;
  }

  std::vector<Factory> backends_;
  size_t next_ = 0;
  int device_ = -1, frequency_ = 0;
  std::unique_ptr<Backend> chosen_;
};

std::unique_ptr<ResumableAudio> NewPipeWireAudio();  // Linux
std::unique_ptr<ResumableAudio> NewPulseAudio();     // Linux
std::unique_ptr<ResumableAudio> NewWasapiAudio();    // Windows
std::unique_ptr<ResumableAudio> NewSdlAudio();

// Where the resuming choice runs its searches for an output: away from the
// frame loop, which must not wait while a device opens (seconds, for a
// Bluetooth headset). A test runs them when it says.
class Searches {
 public:
  virtual ~Searches() = default;
  // Runs `search` away from the caller; one at a time.
  virtual void Begin(std::function<void()> search) = 0;
  // Returns once the search begun last has ended.
  virtual void Finish() = 0;
};

struct ResumingOptions {
  // Whether a backend further down the list gives way to an earlier one
  // that opens again (Windows: SDL's device stands in for WASAPI only while
  // WASAPI refuses).
  bool preferEarlier = false;
  // The clock, in seconds of `MonotonicSeconds`.
  double (*now)() = &MonotonicSeconds;
  std::shared_ptr<Searches> searches;  // null: a thread for each search
};

// The first of `backends` that plays the stream, chosen anew, from the same
// list, whenever the chosen one's output goes (desktop_audio.cpp says which
// list each platform has).
std::unique_ptr<TrackAudio> NewResumingAudio(std::vector<Chooser<ResumableAudio>::Factory> backends,
                                             ResumingOptions options = {});

}  // namespace platform::audio
