#include "platform/music_clock.h"

#include <algorithm>
#include <cmath>

namespace platform {

PlaybackClock::PlaybackClock(double framesPerSecond, int64_t latencyFrames)
    : rate_(framesPerSecond), latency_(std::max<int64_t>(latencyFrames, 0)) {}

namespace {
// A callback this far off the fitted line means the device stalled or was
// restarted: the fit starts afresh instead of averaging across the break.
constexpr double kRefitSeconds = 0.1;
// Fewer callbacks than this are too few for a line; the last one stands.
constexpr int kMinimumForFit = 4;
// How far a CycleClock runs past the graph's last known cycle: as late as a
// graph's driver may wake on a busy machine, and no further than a stopped
// graph may leave the clock ahead of the frame played last.
constexpr double kRunOnSeconds = 0.001;
}  // namespace

void PlaybackClock::OnCallback(int64_t callbackFrames, int64_t streamFrames, double nowSeconds) {
  if (streamFrames > 0 && streamStart_ < 0) streamStart_ = deviceFrames_;
  // A callback well inside the previous buffer's period is the device
  // filling its queue (at start-up, after a stall), not consuming: the
  // steady pace starts again from the last callback of such a burst.
  const bool burst = historyCount_ > 0 && nowSeconds - lastCallbackTime_ < 0.5 * lastCallbackFrames_ / rate_;
  deviceFrames_ += callbackFrames;
  streamFrames_ += streamFrames;
  lastCallbackTime_ = nowSeconds;
  lastCallbackFrames_ = static_cast<double>(callbackFrames);
  if (burst) {
    historyCount_ = 0;
  } else if (historyCount_ >= kMinimumForFit) {
    const double predicted = fitTime_ + (static_cast<double>(deviceFrames_) - fitFrames_) * fitSlope_;
    if (std::abs(nowSeconds - predicted) > kRefitSeconds) historyCount_ = 0;
  }
  historyFrames_[historyNext_] = deviceFrames_;
  historyTimes_[historyNext_] = nowSeconds;
  historyNext_ = (historyNext_ + 1) % kHistory;
  historyCount_ = std::min(historyCount_ + 1, kHistory);
  Refit();
}

void PlaybackClock::Refit() {
  // The fit covers the newest `historyCount_` entries of the ring, counted
  // back from the one just written: after a restart the older slots still
  // hold callbacks from before the break.
  auto at = [this](int age) { return (historyNext_ + kHistory - 1 - age) % kHistory; };
  lateness_ = 0.0;
  if (historyCount_ < kMinimumForFit) {
    fitTime_ = historyTimes_[at(0)];
    fitFrames_ = static_cast<double>(historyFrames_[at(0)]);
    fitSlope_ = 1.0 / rate_;
    return;
  }
  // Least squares on values centred at their means, so that large frame
  // counts and clock readings keep their precision.
  double meanF = 0.0, meanT = 0.0;
  for (int age = 0; age < historyCount_; ++age) {
    meanF += static_cast<double>(historyFrames_[at(age)]);
    meanT += historyTimes_[at(age)];
  }
  meanF /= historyCount_;
  meanT /= historyCount_;
  double sff = 0.0, sft = 0.0;
  for (int age = 0; age < historyCount_; ++age) {
    const double f = static_cast<double>(historyFrames_[at(age)]) - meanF;
    sff += f * f;
    sft += f * (historyTimes_[at(age)] - meanT);
  }
  fitFrames_ = meanF;
  fitTime_ = meanT;
  fitSlope_ = sff > 0.0 && sft > 0.0 ? sft / sff : 1.0 / rate_;
  // How late callbacks come after the line: nine in ten of them, so that
  // one callback the scheduler held up neither moves the estimate when it
  // comes nor when it leaves the fit.
  double late[kHistory];
  for (int age = 0; age < historyCount_; ++age) {
    const double predicted = fitTime_ + (static_cast<double>(historyFrames_[at(age)]) - fitFrames_) * fitSlope_;
    late[age] = historyTimes_[at(age)] - predicted;
  }
  const int ninth = historyCount_ * 9 / 10;
  std::nth_element(late, late + ninth, late + historyCount_);
  lateness_ = std::max(0.0, late[ninth]);
}

int64_t PlaybackClock::HeardFrames(double nowSeconds) {
  if (streamStart_ < 0) return lastReported_;
  const double deviceNow = fitFrames_ + (nowSeconds - fitTime_) / fitSlope_;
  // A device whose callback comes 5 ms late has not run dry: it holds at
  // least a buffer plus the lateness its callbacks show. Where the known
  // latency is less, the estimate trails the line by that much more, so that
  // it reaches the delivered frames only when a callback is later than any
  // recent one, not whenever one is a little late.
  const double latency = std::max(static_cast<double>(latency_),
                                  lastCallbackFrames_ + std::min(lateness_, kRefitSeconds) / fitSlope_);
  const auto estimate = static_cast<int64_t>(std::floor(deviceNow - latency - static_cast<double>(streamStart_)));
  lastReported_ = std::clamp(estimate, lastReported_, std::max(lastReported_, streamFrames_));
  return lastReported_;
}

void CycleClock::OnCycle(double startSeconds, double firstFrame, int64_t frames) {
  started_ = true;
  start_ = startSeconds;
  first_ = firstFrame;
  frames_ = std::max<int64_t>(frames, 0);
}

int64_t CycleClock::PlayedFrames(double nowSeconds, int64_t delivered, double graphCycle) {
  if (!started_) return lastReported_;
  // A later cycle plays as many frames again, as far as the graph is known
  // to have gone; and a driver woken a little late has still played on.
  const double reach =
      static_cast<double>(frames_) + (std::max(graphCycle - start_, 0.0) + kRunOnSeconds) * rate_;
  const double into = std::clamp((nowSeconds - start_) * rate_, 0.0, reach);
  const auto played = static_cast<int64_t>(std::floor(first_ + into));
  lastReported_ = std::clamp(played, lastReported_, std::max(lastReported_, delivered));
  return lastReported_;
}

}  // namespace platform
