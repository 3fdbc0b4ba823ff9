#include "platform/music_clock.h"

#include <algorithm>
#include <cmath>

namespace platform {

PlaybackClock::PlaybackClock(double framesPerSecond, int64_t latencyFrames)
    : rate_(framesPerSecond), latency_(std::max<int64_t>(latencyFrames, 0)) {}

void PlaybackClock::OnCallback(int64_t callbackFrames, int64_t streamFrames, double nowSeconds) {
  if (streamFrames > 0 && streamStart_ < 0) streamStart_ = deviceFrames_;
  deviceFrames_ += callbackFrames;
  streamFrames_ += streamFrames;
  callbackTime_ = nowSeconds;
}

int64_t PlaybackClock::HeardFrames(double nowSeconds) {
  if (streamStart_ < 0) return lastReported_;
  const double elapsed = std::max(0.0, nowSeconds - callbackTime_);
  const double device = static_cast<double>(deviceFrames_ - latency_ - streamStart_) + elapsed * rate_;
  const auto estimate = static_cast<int64_t>(std::floor(device));
  lastReported_ = std::clamp(estimate, lastReported_, std::max(lastReported_, streamFrames_));
  return lastReported_;
}

}  // namespace platform
