// A choice of backends kept playing through the life of its output: a
// desktop's sound server restarts (a Bluetooth headset switched on, a user's
// `systemctl --user restart pipewire`), a headset is unplugged, the default
// device changes, and the music and the picture must not die with it.
//
// While the output is there, the position is the chosen backend's (the first
// of the list that plays the stream). Once the backend says its output is
// gone, the position runs on from the frame played last at the music's pace,
// so the picture goes on, and every half second the list is tried again away
// from the frame loop. A backend that answers starts the track at the frame
// the picture has reached when its stream is made (a device that took
// seconds to open starts where the picture is then, not where it was when
// the search began), and plays once the frame loop takes it over; from then
// on the position is that frame plus what the new stream has played, never
// stepping back: the picture waits the new output's latency out rather than
// run ahead of the sound.
//
// Where the list prefers its earlier backends (`preferEarlier`), a stream on
// a later one (a stand-in) is moved back to an earlier one as soon as that
// one opens and takes the stream, the same way.
//
// Time the program did not run (the machine asleep, the process stopped: a
// second or more between two reads) is not music played: the position runs
// on from where it was heard, and the track resumes there.
//
// How it fails: as its backends do at Init and StreamCreateFile. An output
// that never comes back leaves the picture running to the end of the track.
#include <algorithm>
#include <mutex>
#include <string>
#include <thread>

#include "platform/audio/backend.h"

namespace platform::audio {
namespace {

// How often a gone output, or a preferred one, is looked for again.
constexpr double kRetrySeconds = 0.5;
// A pause between two reads of the position longer than this is time the
// program did not run.
constexpr double kAsleepSeconds = 1.0;

using Factories = std::vector<Chooser<ResumableAudio>::Factory>;

// A thread for each search.
class SearchThreads final : public Searches {
 public:
  ~SearchThreads() override { Finish(); }
  void Begin(std::function<void()> search) override {
    Finish();
    thread_ = std::thread(std::move(search));
  }
  void Finish() override {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

class ResumingAudio final : public TrackAudio {
 public:
  ResumingAudio(Factories backends, ResumingOptions options)
      : backends_(std::move(backends)), options_(std::move(options)) {
    if (!options_.searches) options_.searches = std::make_shared<SearchThreads>();
  }
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
    currentIndex_ = chooser_->chosenIndex();
    current_ = chooser_->Release();
    path_ = path;
    rate_ = track.Rate();
    channels_ = track.Channels();
    totalFrames_ = track.TotalFrames();
    base_ = 0;
    returned_ = anchorFrames_ = 0;
    anchorAt_ = lastRead_ = options_.now();
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
    anchorAt_ = lastRead_ = options_.now();
    return !current_ || current_->Lost() || current_->ChannelPlay(stream, restart);
  }

  int64_t PlayedFrames() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (path_.empty()) return 0;
    const double now = options_.now();
    if (now - lastRead_ > kAsleepSeconds) anchorAt_ += now - lastRead_;
    lastRead_ = now;
    AdoptResumed(now);
    int64_t frames;
    if (current_ && !current_->Lost()) {
      frames = base_ + current_->PlayedFrames();
      anchorFrames_ = std::max(frames, returned_);
      anchorAt_ = now;
      if (options_.preferEarlier && currentIndex_ > 0) LookForOutput(now, currentIndex_);
    } else {
      frames = RunOn(now);
      LookForOutput(now, backends_.size());
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
    options_.searches->Finish();
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
  // Where the picture is at `now`: the frame read last, moved on at the
  // music's pace while it plays.
  int64_t RunOn(double now) const {
    if (!playing_) return anchorFrames_;
    const auto frames = anchorFrames_ + static_cast<int64_t>((now - anchorAt_) * rate_);
    return totalFrames_ >= 0 ? std::min(frames, totalFrames_) : frames;
  }

  // Begins a search among the first `limit` backends of the list, at most
  // every kRetrySeconds. The one that takes the stream starts it at the
  // picture's frame as it is then; the frame loop adopts it.
  void LookForOutput(double now, size_t limit) {
    if (seeking_ || now - lastSeek_ < kRetrySeconds || (totalFrames_ >= 0 && RunOn(now) >= totalFrames_)) return;
    seeking_ = true;
    lastSeek_ = now;
    options_.searches->Begin([this, limit, path = path_, device = device_, frequency = frequency_] {
      Chooser<ResumableAudio> chooser(Factories(backends_.begin(), backends_.begin() + static_cast<long>(limit)));
      std::unique_ptr<ResumableAudio> fresh;
      int64_t from = 0;
      size_t index = 0;
      if (chooser.Init(device, frequency) && chooser.Take(path.c_str(), [&](ResumableAudio& a) {
            std::lock_guard<std::mutex> lock(mutex_);
            from = RunOn(options_.now());
            a.StartAt(from);
          }) != 0) {
        index = chooser.chosenIndex();
        fresh = chooser.Release();
        fresh->Start();
      }
      std::lock_guard<std::mutex> lock(mutex_);
      resumed_ = std::move(fresh);
      resumedFrom_ = from;
      resumedIndex_ = index;
      seeking_ = false;
    });
  }

  // Makes a backend the search found the current one: the one it replaces
  // is stopped and let go first, so the music is never heard twice. The
  // half-second wait is between searches that found nothing: an output lost
  // right after a move is looked for at once.
  void AdoptResumed(double now) {
    if (!resumed_) return;
    if (current_) {
      if (!current_->Lost()) current_->Stop();
      current_->Free();
    }
    current_ = std::move(resumed_);
    currentIndex_ = resumedIndex_;
    base_ = resumedFrom_;
    anchorFrames_ = std::max(RunOn(now), returned_);
    anchorAt_ = now;
    if (playing_) current_->ChannelPlay(kStream, false);
    lastSeek_ = -1e9;
  }

  const Factories backends_;
  ResumingOptions options_;
  std::mutex mutex_;
  bool opened_ = false, playing_ = false;
  int device_ = -1, frequency_ = 0;
  std::unique_ptr<Chooser<ResumableAudio>> chooser_;
  std::unique_ptr<ResumableAudio> current_;
  size_t currentIndex_ = 0;  // where the current backend stands in the list
  std::string path_;
  int rate_ = 0, channels_ = 0;
  int64_t totalFrames_ = -1;
  int64_t base_ = 0;          // the track's frame the current stream started at
  int64_t returned_ = 0;      // the largest position handed out: never less
  int64_t anchorFrames_ = 0;  // the position last read while an output played it,
  double anchorAt_ = 0;       // and when
  double lastRead_ = 0;       // when the position was read last
  // The search for an output, and what it found.
  bool seeking_ = false;
  double lastSeek_ = -1e9;
  std::unique_ptr<ResumableAudio> resumed_;
  int64_t resumedFrom_ = 0;
  size_t resumedIndex_ = 0;
};

}  // namespace

std::unique_ptr<TrackAudio> NewResumingAudio(Factories backends, ResumingOptions options) {
  return std::make_unique<ResumingAudio>(std::move(backends), std::move(options));
}

}  // namespace platform::audio
