#include "shell/frame_lead.h"

#include <algorithm>
#include <cstddef>
#include <limits>

void FrameLead::Ring::Add(double v) {
  values[next] = v;
  next = (next + 1) % values.size();
  count = std::min(count + 1, values.size());
}

double FrameLead::Ring::Median() const {
  if (count == 0) return 0.0;
  // Until the ring is full only its first `count` slots hold readings; the
  // others sort last, so the whole array sorts with bounds known at compile
  // time and the median of the readings is still at count / 2.
  std::array<double, kFrames> sorted = values;
  std::fill(sorted.begin() + static_cast<std::ptrdiff_t>(count), sorted.end(), std::numeric_limits<double>::infinity());
  std::sort(sorted.begin(), sorted.end());
  return sorted[count / 2];
}

void FrameLead::ClockRead(double at, double music) {
  readAt_ = at;
  musicBefore_ = music_;
  music_ = music;
}

void FrameLead::Presented(double at) {
  // The frame just presented was drawn for the reading taken before it.
  if (readAt_ >= 0 && at >= readAt_) latency_.Add(at - readAt_);
  if (presentedAt_ >= 0 && at >= presentedAt_) interval_.Add(at - presentedAt_);
  presentedAt_ = at;
}

double FrameLead::Seconds() const {
  if (latency_.count == 0 || interval_.count == 0 || music_ == musicBefore_) return 0.0;
  return std::clamp(latency_.Median() + interval_.Median() / 2, 0.0, kMaxSeconds);
}
