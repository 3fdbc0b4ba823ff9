// The A/V offset of the music clock: how far the position the demo draws by
// is from the sample being played.
//
// With a sound server (PULSE_SERVER or the default one; scripts/sound-server
// starts a private one with a null sink): plays a click track with irregular
// spacing through each audio backend while recording the default sink's
// monitor (through PipeWire's own graph where the pulse server is PipeWire's:
// tests/support/av_offset.h says why), then, on PulseAudio, once more into a
// pretend sound card with a deep buffer, and prints per backend the mean and
// spread of (clock's frame − played frame) over the clicks, the largest step and the backward steps of
// the clock read every half millisecond, how far the clock stands ahead of
// the last played frame while the sink is suspended for 500 ms, and the
// offsets after it resumes. The played time of a monitored sample is the
// server's own account (the monitor hears a sample when the sink renders it,
// a sink latency before it is played); the bench also prints that render
// lead, measured from the monitor's arrival times alone.
//
// Without one (SDL's dummy driver, as in CI): how steady the clock is, the
// largest step, the mean and maximum deviation from a straight line against
// the monotonic clock, and the backward steps.
//
// Goals: offset within 2 ms (1 ms) of the played frame, no backward step,
// back within 2 ms at most 0.5 s after a suspend, and at a suspend standing
// at the last played frame, not ahead of it.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "measure/av_offset.h"
#include "measure/workbench.h"

namespace {

using namespace avoffset;
using Clock = std::chrono::steady_clock;

// ---- without a server: steadiness on SDL's driver ----------------------------

void MeasureSteadiness(platform::ClockModel model, const char* name, const std::string& track, double seconds) {
  auto audio = platform::CreateSdlAudio(model);
  if (!audio->Init(-1, kRate)) {
    std::fprintf(stderr, "clock_bench: no audio device\n");
    std::exit(1);
  }
  const uint32_t stream = audio->StreamCreateFile(track.c_str());
  audio->Start();
  audio->ChannelPlay(stream, false);
  const auto start = Clock::now();
  std::vector<std::pair<double, double>> moving;  // past the device's start-up
  double largestStep = 0, last = 0;
  int backward = 0;
  auto next = start;
  while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
    next += std::chrono::milliseconds(1);
    std::this_thread::sleep_until(next);
    const double music = audio->ChannelBytes2Seconds(stream, audio->ChannelGetPosition(stream));
    largestStep = std::max(largestStep, music - last);
    backward += music < last;
    last = music;
    if (music > 0.2) moving.emplace_back(std::chrono::duration<double>(Clock::now() - start).count(), music);
  }
  audio->Stop();
  audio->Free();
  const Line line = Fit(moving);
  double sum = 0, worst = 0;
  for (auto [t, music] : moving) {
    const double d = std::abs(music - line(t));
    sum += d;
    worst = std::max(worst, d);
  }
  std::printf("%-26s %11.3f ms %13.3f ms %12.3f ms %8.4f %15d\n", name, largestStep * 1000,
              sum / static_cast<double>(moving.size()) * 1000, worst * 1000, line.b, backward);
}

std::string Ms(double v) {
  if (std::isnan(v)) return "-";
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

}  // namespace

int main(int argc, char** argv) {
  TempDir dir;
  const std::string track = dir / "clicks.ogg";
  constexpr double kPlaySeconds = 16.0, kSuspendAt = 10.0;
  if (!WriteClickTrack(track, kPlaySeconds + 2)) {
    std::fprintf(stderr, "clock_bench: cannot write %s\n", track.c_str());
    return 1;
  }
  const std::vector<long> clicks = ClicksIn(track);

  const std::string server = ServerName();
  if (server.empty()) {
    std::printf("no sound server answers: the clock's steadiness on SDL's driver, %s\n",
                std::getenv("SDL_AUDIODRIVER") ? std::getenv("SDL_AUDIODRIVER") : "its default");
    std::printf("%-26s %14s %16s %15s %8s %15s\n", "clock", "largest step", "mean deviation", "max deviation",
                "slope", "backward steps");
    MeasureSteadiness(platform::ClockModel::Heard, "SDL callbacks (heard)", track, 10.0);
    MeasureSteadiness(platform::ClockModel::BuffersHandedOver, "SDL buffers handed over", track, 10.0);
    return 0;
  }
  std::printf("server: %s; %zu clicks in the track; offset = clock's frame - played frame, in ms "
              "(positive: the picture is early)\n", server.c_str(), clicks.size());
  std::printf("%-35s %6s %8s %7s %17s %9s %9s %10s %10s %9s %9s %8s %8s %8s\n", "backend, reference", "clicks", "mean", "spread",
              "min..max", "step", "backward", "suspended", "0-0.5 s", "settled", "after", "spread", "lead", "quantum");
  const std::pair<const char*, std::function<std::unique_ptr<platform::Audio>()>> backends[] = {
      {"server: PipeWire stream", [] { return platform::CreatePipeWireAudio(); }},
      {"server: libpulse stream", [] { return platform::CreatePulseAudio(); }},
      {"SDL callbacks (today)", [] { return platform::CreateSdlAudio(platform::ClockModel::Heard); }},
      {"SDL buffers handed over", [] { return platform::CreateSdlAudio(platform::ClockModel::BuffersHandedOver); }},
  };
  // The pretend card (a deep buffer played at an exact pace) where the
  // server's pipe sink is one: PulseAudio's, not PipeWire's.
  std::vector<std::pair<Reference, const char*>> references = {{Reference::Monitor, "monitor"}};
  if (CanSuspend(server)) references.emplace_back(Reference::Card, "card");
  for (const auto& [reference, referenceName] : references)
  for (const auto& [backendName, create] : backends) {
    // Arguments pick backends by a word of their names ("server", "SDL").
    bool wanted = argc < 2;
    for (int i = 1; i < argc; ++i) wanted |= std::string(backendName).find(argv[i]) != std::string::npos;
    if (!wanted) continue;
    const std::string label = std::string(backendName) + ", " + referenceName;
    const char* name = label.c_str();
    auto audio = create();
    const bool suspend = CanSuspend(server) && reference == Reference::Monitor;
    const std::optional<Session> session = Play(*audio, track, kPlaySeconds, suspend ? kSuspendAt : 0.0, reference);
    if (!session) {
      std::printf("%-35s cannot play here\n", name);
      continue;
    }
    const Result r = Analyse(*session, clicks);
    char range[32];
    std::snprintf(range, sizeof range, "%.2f..%.2f", r.before.lo, r.before.hi);
    std::printf("%-35s %6d %8s %7s %17s %9s %9d %10s %10s %9s %9s %8s %8s %8s\n", name, r.before.count,
                Ms(r.before.mean).c_str(), Ms(r.before.sd).c_str(), range, Ms(r.largestStepMs).c_str(),
                r.backwardSteps, r.sinkStopped || session->resumedAt == 0 ? Ms(r.aheadWhileSuspendedMs).c_str() : "ran on",
                Ms(r.worstEarlyAfterMs).c_str(),
                !std::isnan(r.recoveredAfterS)  ? (Ms(r.recoveredAfterS) + " s").c_str()
                : session->resumedAt > 0        ? "never"
                                                : "-",
                Ms(r.after.count > 0 ? r.after.mean : NAN).c_str(), Ms(r.after.count > 0 ? r.after.sd : NAN).c_str(),
                reference == Reference::Card ? Ms(session->cardFillMs).c_str() : Ms(r.renderLeadMs).c_str(),
                session->quantum > 0 ? std::to_string(session->quantum).c_str() : "-");
  }
  std::printf("columns: clicks, mean, spread (sd), min..max: before the suspend; step: largest step of the clock "
              "read every 0.5 ms; suspended: clock - last played frame at the end of a 500 ms sink suspend; "
              "0-0.5 s: worst |offset| in the first 0.5 s after resuming; settled: from resuming until every later "
              "click is within 2 ms; after, spread: from 0.5 s after resuming on; lead: how long before its played "
              "time the monitor receives a sample (with the card: the card's buffer, its sink latency); "
              "reference: the sink's monitor (its recorder drives a null sink to 1-2 ms of latency) or the "
              "pretend card (a pipe sink read at an exact pace, about 0.35 s of latency, no suspend); quantum: the graph's frames a cycle, where PipeWire's own "
              "capture is the reference; ran on: the server did not stop the sink. PipeWire's pulse service "
              "carries out no suspend of a sink with streams (and silences its monitor after one): no suspend "
              "there\n");
  return 0;
}
