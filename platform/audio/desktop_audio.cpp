// The desktop's choice of audio backend: the sound server where one answers,
// else SDL's device; and the sound server's own choice: PipeWire's own stream
// where a PipeWire daemon with an audio sink answers, else a libpulse stream
// (PulseAudio). A backend is chosen once it has opened the device and taken
// the stream: a server that answers but never takes the stream (a PipeWire
// daemon without the session manager that links streams to its sink) is
// passed over like one that does not answer.
#include <utility>
#include <vector>

#include "platform/audio/ogg_stream.h"
#include "platform/platform.h"

namespace platform {
namespace {

using Factory = std::unique_ptr<Audio> (*)();

// The first of `backends` whose Init succeeds and that takes the stream.
class ChosenAudio final : public Audio {
 public:
  explicit ChosenAudio(std::vector<Factory> backends) : backends_(std::move(backends)) {}

  bool Init(int device, int frequency) override {
    if (chosen_) return false;
    device_ = device;
    frequency_ = frequency;
    next_ = 0;
    return OpenNext();
  }
  uint32_t StreamCreateFile(const char* path) override {
    // A file that cannot be decoded is refused by every backend alike: no
    // reason to try the next.
    if (!chosen_ || !OggStream().Open(path)) return 0;
    for (;;) {
      if (const uint32_t stream = chosen_->StreamCreateFile(path)) return stream;
      chosen_->Free();
      chosen_.reset();
      if (!OpenNext()) return 0;
    }
  }
  bool Start() override { return chosen_ && chosen_->Start(); }
  bool ChannelPlay(uint32_t stream, bool restart) override { return chosen_ && chosen_->ChannelPlay(stream, restart); }
  uint64_t ChannelGetPosition(uint32_t stream) override { return chosen_ ? chosen_->ChannelGetPosition(stream) : 0; }
  double ChannelBytes2Seconds(uint32_t stream, uint64_t bytes) override {
    return chosen_ ? chosen_->ChannelBytes2Seconds(stream, bytes) : -1.0;
  }
  bool Stop() override { return chosen_ && chosen_->Stop(); }
  // A freed device may be opened again, and the choice is made anew.
  bool Free() override {
    if (!chosen_) return false;
    const bool freed = chosen_->Free();
    chosen_.reset();
    return freed;
  }

 private:
  // Opens the device on the next backend that can, from `next_` on.
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
  std::unique_ptr<Audio> chosen_;
};

std::unique_ptr<Audio> CreateSdl() { return CreateSdlAudio(); }

}  // namespace

std::unique_ptr<Audio> CreateDesktopAudio() {
#ifdef _WIN32
  // SDL's device (WASAPI) is the Windows sound system's own client.
  return std::make_unique<ChosenAudio>(std::vector<Factory>{&CreateSdl});
#else
  return std::make_unique<ChosenAudio>(std::vector<Factory>{&CreateServerAudio, &CreateSdl});
#endif
}

#ifndef _WIN32
// PipeWire first: its pulse service's timing leaves out the server's queue
// (pipewire_audio.cpp), and a PulseAudio machine has no PipeWire sink.
std::unique_ptr<Audio> CreateServerAudio() {
  return std::make_unique<ChosenAudio>(std::vector<Factory>{&CreatePipeWireAudio, &CreatePulseAudio});
}
#endif

}  // namespace platform
