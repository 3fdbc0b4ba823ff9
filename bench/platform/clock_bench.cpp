// How steady the music clock is: samples the stream position at 1 kHz for
// ten seconds on the current audio driver (SDL's dummy driver in CI) and
// prints, for the heard clock and for the naive count of frames handed to the
// device, the largest step, the mean and maximum deviation from a straight
// line fitted against the monotonic clock, and the backward steps.
// Goal for the heard clock: maximum deviation under 1 ms, no backward step.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "tests/support/support.h"

namespace {

struct Figures {
  double largestStepMs, meanDeviationMs, maxDeviationMs, slope;
  int backwardSteps;
};

Figures Measure(platform::ClockModel model, const std::string& track, double seconds) {
  auto audio = platform::CreateSdlAudio(model);
  if (!audio->Init(-1, 44100)) {
    std::fprintf(stderr, "clock_bench: no audio device\n");
    std::exit(1);
  }
  const uint32_t stream = audio->StreamCreateFile(track.c_str());
  audio->Start();
  audio->ChannelPlay(stream, false);
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<std::pair<double, double>> samples;
  auto next = start;
  while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
    next += std::chrono::milliseconds(1);
    std::this_thread::sleep_until(next);
    const double music = audio->ChannelBytes2Seconds(stream, audio->ChannelGetPosition(stream));
    samples.emplace_back(std::chrono::duration<double>(Clock::now() - start).count(), music);
  }
  audio->Stop();
  audio->Free();
  // Only the part where the music moves (past the device's start-up).
  std::vector<std::pair<double, double>> moving;
  for (auto s : samples)
    if (s.second > 0.2) moving.push_back(s);
  Figures f{};
  double mx = 0, my = 0;
  for (auto [x, y] : moving) mx += x, my += y;
  mx /= moving.size(), my /= moving.size();
  double sxy = 0, sxx = 0;
  for (auto [x, y] : moving) sxy += (x - mx) * (y - my), sxx += (x - mx) * (x - mx);
  f.slope = sxy / sxx;
  double sum = 0;
  for (size_t i = 0; i < moving.size(); ++i) {
    const double d = std::abs(moving[i].second - (my + f.slope * (moving[i].first - mx)));
    sum += d;
    f.maxDeviationMs = std::max(f.maxDeviationMs, d * 1000);
    if (i > 0) {
      const double step = moving[i].second - moving[i - 1].second;
      f.largestStepMs = std::max(f.largestStepMs, step * 1000);
      if (step < 0) ++f.backwardSteps;
    }
  }
  f.meanDeviationMs = sum / moving.size() * 1000;
  return f;
}

}  // namespace

int main() {
  TempDir dir;
  const std::string track = dir / "track.ogg";
  constexpr double kSeconds = 10.0;
  if (!WriteTestOgg(track, kSeconds + 2)) {
    std::fprintf(stderr, "clock_bench: cannot write %s\n", track.c_str());
    return 1;
  }
  std::printf("%-22s %14s %16s %15s %8s %15s\n", "clock", "largest step", "mean deviation", "max deviation",
              "slope", "backward steps");
  const std::pair<const char*, platform::ClockModel> models[] = {
      {"heard (ours)", platform::ClockModel::Heard},
      {"buffers handed over", platform::ClockModel::BuffersHandedOver}};
  for (auto [name, model] : models) {
    const Figures f = Measure(model, track, kSeconds);
    std::printf("%-22s %11.3f ms %13.3f ms %12.3f ms %8.4f %15d\n", name, f.largestStepMs, f.meanDeviationMs,
                f.maxDeviationMs, f.slope, f.backwardSteps);
  }
  return 0;
}
