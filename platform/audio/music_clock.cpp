#include "platform/audio/music_clock.h"

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
// A server's answer this far off a ReportClock's line is off it; this many
// in a row start the line again.
constexpr double kOffLineSeconds = 0.005;
constexpr int kOffLineRun = 3;
// A ReportClock's line runs no further than this past its newest answer.
constexpr double kStaleSeconds = 0.3;
// Answers closer together than this say nothing of the pace: their jitter
// is most of their difference.
constexpr double kSlopeSpanSeconds = 0.05;
// The pace a ReportClock's line may take, against the nominal rate: a real
// device's clock is off by far less than this, a scatter of answers by more.
constexpr double kMaxPaceOff = 0.005;

double MedianOf(double* v, int n) {
  std::sort(v, v + n);
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}
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

void ReportClock::OnReport(double atSeconds, double frames, bool moving) {
  const bool continues = count_ > 0 && moving_ && moving;
  offLine_ = continues && std::abs(Line(atSeconds) - frames) >= kOffLineSeconds * rate_ ? offLine_ + 1 : 0;
  if (!continues) count_ = 0;
  moving_ = moving;
  at_[next_] = atSeconds;
  frames_[next_] = frames;
  next_ = (next_ + 1) % kReports;
  count_ = std::min(count_ + 1, kReports);
  if (offLine_ >= kOffLineRun) count_ = offLine_, offLine_ = 0;
  Refit();
}

void ReportClock::Refit() {
  // Theil and Sen's line: the median slope of the pairs far enough apart in
  // time to tell, then the median offset at that slope.
  double values[kReports * (kReports - 1) / 2];
  int n = 0;
  for (int i = 0; i < count_; ++i)
    for (int j = i + 1; j < count_; ++j) {
      const double span = at_[Slot(i)] - at_[Slot(j)];
      if (span >= kSlopeSpanSeconds) values[n++] = (frames_[Slot(i)] - frames_[Slot(j)]) / span / rate_;
    }
  slope_ = n >= 3 ? std::clamp(MedianOf(values, n), 1.0 - kMaxPaceOff, 1.0 + kMaxPaceOff) : 1.0;
  lineAt_ = at_[Slot(0)];
  for (int age = 0; age < count_; ++age)
    values[age] = frames_[Slot(age)] + (lineAt_ - at_[Slot(age)]) * slope_ * rate_;
  lineFrames_ = MedianOf(values, count_);
}

double ReportClock::Line(double atSeconds) const {
  if (count_ == 0) return 0.0;
  if (!moving_) return frames_[Slot(0)];
  return lineFrames_ + (std::min(atSeconds, lineAt_ + kStaleSeconds) - lineAt_) * slope_ * rate_;
}

int64_t ReportClock::PlayedFrames(double nowSeconds, int64_t delivered) {
  const auto played = static_cast<int64_t>(std::floor(Line(nowSeconds)));
  lastReported_ = std::clamp(played, lastReported_, std::max(lastReported_, delivered));
  return lastReported_;
}

}  // namespace platform
