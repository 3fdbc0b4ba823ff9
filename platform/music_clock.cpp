#include "platform/music_clock.h"

#include <algorithm>
#include <cmath>

namespace platform {

PlaybackClock::PlaybackClock(double framesPerSecond, int64_t latencyFrames)
    : rate_(framesPerSecond), latency_(std::max<int64_t>(latencyFrames, 0)) {}

void PlaybackClock::OnCallback(int64_t framesDeliveredTotal, double nowSeconds) {
  delivered_ = std::max(delivered_, framesDeliveredTotal);
  callbackTime_ = nowSeconds;
  started_ = true;
}

int64_t PlaybackClock::HeardFrames(double nowSeconds) {
  if (!started_) return lastReported_;
  const double elapsed = std::max(0.0, nowSeconds - callbackTime_);
  const auto estimate = static_cast<int64_t>(std::floor(static_cast<double>(delivered_ - latency_) + elapsed * rate_));
  lastReported_ = std::clamp(estimate, lastReported_, std::max(lastReported_, delivered_));
  return lastReported_;
}

}  // namespace platform
