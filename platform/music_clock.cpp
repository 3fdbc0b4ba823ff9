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
}  // namespace

void PlaybackClock::OnCallback(int64_t callbackFrames, int64_t streamFrames, double nowSeconds) {
  if (streamFrames > 0 && streamStart_ < 0) streamStart_ = deviceFrames_;
  deviceFrames_ += callbackFrames;
  streamFrames_ += streamFrames;
  if (historyCount_ >= kMinimumForFit) {
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
  const int newest = (historyNext_ + kHistory - 1) % kHistory;
  if (historyCount_ < kMinimumForFit) {
    fitTime_ = historyTimes_[newest];
    fitFrames_ = static_cast<double>(historyFrames_[newest]);
    fitSlope_ = 1.0 / rate_;
    return;
  }
  // Least squares on values centred at their means, so that large frame
  // counts and clock readings keep their precision.
  double meanF = 0.0, meanT = 0.0;
  for (int i = 0; i < historyCount_; ++i) {
    meanF += static_cast<double>(historyFrames_[i]);
    meanT += historyTimes_[i];
  }
  meanF /= historyCount_;
  meanT /= historyCount_;
  double sff = 0.0, sft = 0.0;
  for (int i = 0; i < historyCount_; ++i) {
    const double f = static_cast<double>(historyFrames_[i]) - meanF;
    sff += f * f;
    sft += f * (historyTimes_[i] - meanT);
  }
  fitFrames_ = meanF;
  fitTime_ = meanT;
  fitSlope_ = sff > 0.0 && sft > 0.0 ? sft / sff : 1.0 / rate_;
}

int64_t PlaybackClock::HeardFrames(double nowSeconds) {
  if (streamStart_ < 0) return lastReported_;
  const double deviceNow = fitFrames_ + (nowSeconds - fitTime_) / fitSlope_;
  const auto estimate = static_cast<int64_t>(std::floor(deviceNow - static_cast<double>(latency_ + streamStart_)));
  lastReported_ = std::clamp(estimate, lastReported_, std::max(lastReported_, streamFrames_));
  return lastReported_;
}

}  // namespace platform
