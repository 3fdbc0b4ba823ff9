// A choice of backends kept playing through the life of its output: a
// desktop's sound server restarts (a Bluetooth headset switched on, a user's
// `systemctl --user restart pipewire`), a headset is unplugged, the default
// device changes, and the music and the picture must not die with it.
//
// While the output is there, the position is the chosen backend's (the first
// of the list that plays the stream). Once the backend says its output is
// gone, the position runs on from the frame played last at the music's pace
// on the monotonic clock, so the picture goes on, and every half second the
// list is tried again on a thread of its own. When a backend answers, it
// starts the track at the frame the picture has reached; from then on the
// position is that frame plus what the new stream has played, never stepping
// back: the picture waits the new output's latency out rather than run ahead
// of the sound.
//
// How it fails: as its backends do at Init and StreamCreateFile. An output
// that never comes back leaves the picture running to the end of the track.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>

#include "platform/audio/backend.h"

namespace platform::audio {
namespace {

// How often a gone output is looked for again.
constexpr double kRetrySeconds = 0.5;

using Factories = std::vector<Chooser<ResumableAudio>::Factory>;

class ResumingAudio final : public TrackAudio {
 public:
  explicit ResumingAudio(Factories backends) : backends_(std::move(backends)) {}
  ~ResumingAudio() override { Free(); }

  bool Init(int device, int frequency) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (opened_) return false;
    Chooser<ResumableAudio> chooser(backends_);
    if (!chooser.Init(device, frequency)) return false;
    chooser_ = std::make_unique<Chooser<ResumableAudio>>(std::move(chooser));
    device_ = device;
    frequency_ = frequency;
    opened_ = true;
    return true;
  }

  uint32_t StreamCreateFile(const char* path) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!opened_ || current_ || !path) return 0;
    OggStream track;
    if (!track.Open(path)) return 0;
    const uint32_t stream = chooser_->Take(path, [](ResumableAudio& a) { a.StartAt(0); });
    if (stream == 0) return 0;
    current_ = chooser_->Release();
    path_ = path;
    rate_ = track.Rate();
    channels_ = track.Channels();
    totalFrames_ = track.TotalFrames();
    base_ = 0;
    returned_ = anchorFrames_ = 0;
    anchorAt_ = MonotonicSeconds();
    return kStream;
  }

  bool Start() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return opened_ && (!current_ || current_->Start());
  }

  bool ChannelPlay(uint32_t stream, bool restart) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stream != kStream || path_.empty()) return false;
    playing_ = true;
    anchorAt_ = MonotonicSeconds();
    return !current_ || current_->Lost() || current_->ChannelPlay(stream, restart);
  }

  int64_t PlayedFrames() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (path_.empty()) return 0;
    const double now = MonotonicSeconds();
    AdoptResumed(now);
    int64_t frames;
    if (current_ && !current_->Lost()) {
      frames = base_ + current_->PlayedFrames();
      anchorFrames_ = std::max(frames, returned_);
      anchorAt_ = now;
    } else {
      frames = RunOn(now);
      LookForOutput(now, frames);
    }
    returned_ = std::max(returned_, frames);
    return returned_;
  }

  Track Playing() override {
    std::lock_guard<std::mutex> lock(mutex_);
    return path_.empty() ? Track{} : Track{rate_, channels_};
  }

  bool Stop() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!opened_) return false;
    playing_ = false;
    return !current_ || current_->Stop();
  }

  bool Free() override {
    if (seeker_.joinable()) seeker_.join();
    std::lock_guard<std::mutex> lock(mutex_);
    if (!opened_) return false;
    for (auto* backend : {&current_, &resumed_})
      if (*backend) (*backend)->Free();
    current_.reset();
    resumed_.reset();
    chooser_.reset();
    path_.clear();
    opened_ = playing_ = false;
    return true;
  }

 private:
  // Where the music would be now had it played on from the frame played last.
  int64_t RunOn(double now) const {
    if (!playing_) return anchorFrames_;
    const auto frames = anchorFrames_ + static_cast<int64_t>((now - anchorAt_) * rate_);
    return totalFrames_ >= 0 ? std::min(frames, totalFrames_) : frames;
  }

  // Starts a search for an output on its own thread (the frame loop must not
  // wait for one), at most every kRetrySeconds; the track resumes at `from`.
  void LookForOutput(double now, int64_t from) {
    if (seeking_ || now - lastSeek_ < kRetrySeconds || (totalFrames_ >= 0 && from >= totalFrames_)) return;
    if (seeker_.joinable()) seeker_.join();
    seeking_ = true;
    lastSeek_ = now;
    seeker_ = std::thread([this, from, path = path_, device = device_, frequency = frequency_,
                           play = playing_] {
      Chooser<ResumableAudio> chooser(backends_);
      std::unique_ptr<ResumableAudio> fresh;
      if (chooser.Init(device, frequency) &&
          chooser.Take(path.c_str(), [from](ResumableAudio& a) { a.StartAt(from); }) != 0) {
        fresh = chooser.Release();
        fresh->Start();
        if (play) fresh->ChannelPlay(kStream, false);
      }
      std::lock_guard<std::mutex> lock(mutex_);
      resumed_ = std::move(fresh);
      resumedFrom_ = from;
      seeking_ = false;
    });
  }

  // Makes a backend the search found the current one; the gone one is let go.
  // The half-second wait is between searches that found nothing: an output
  // lost right after a move is looked for at once.
  void AdoptResumed(double now) {
    if (!resumed_) return;
    if (current_) current_->Free();
    current_ = std::move(resumed_);
    base_ = resumedFrom_;
    anchorFrames_ = RunOn(now);
    anchorAt_ = now;
    lastSeek_ = -1e9;
  }

  const Factories backends_;
  std::mutex mutex_;
  bool opened_ = false, playing_ = false;
  int device_ = -1, frequency_ = 0;
  std::unique_ptr<Chooser<ResumableAudio>> chooser_;
  std::unique_ptr<ResumableAudio> current_;
  std::string path_;
  int rate_ = 0, channels_ = 0;
  int64_t totalFrames_ = -1;
  int64_t base_ = 0;          // the track's frame the current stream started at
  int64_t returned_ = 0;      // the largest position handed out: never less
  int64_t anchorFrames_ = 0;  // the position last read while an output played it,
  double anchorAt_ = 0;       // and when
  // The search for an output.
  std::thread seeker_;
  bool seeking_ = false;
  double lastSeek_ = -1e9;
  std::unique_ptr<ResumableAudio> resumed_;
  int64_t resumedFrom_ = 0;
};

}  // namespace

std::unique_ptr<TrackAudio> NewResumingAudio(Factories backends) { return std::make_unique<ResumingAudio>(std::move(backends)); }

}  // namespace platform::audio
