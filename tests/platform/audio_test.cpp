// The music stream and its clock: the estimator on scripted callbacks, and
// the real SDL backend on SDL's dummy driver with a short Ogg of our own.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>
#include <vector>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

#include "platform/audio/music_clock.h"
#include "platform/audio/ogg_stream.h"
#include "platform/platform.h"
#include "measure/workbench.h"

namespace {

using platform::PlaybackClock;

TEST(PlaybackClock, FollowsTheHeardSampleBetweenCallbacks) {
  PlaybackClock clock(1000.0, 100);  // 1000 frames/s, 100 frames buffered
  EXPECT_EQ(clock.HeardFrames(5.0), 0) << "nothing heard before the first callback";
  clock.OnCallback(100, 0, 9.9);  // silence: the stream has not started
  EXPECT_EQ(clock.HeardFrames(9.95), 0);
  clock.OnCallback(100, 100, 10.0);
  EXPECT_EQ(clock.HeardFrames(10.0), 0) << "the first stream buffer is still queued";
  EXPECT_EQ(clock.HeardFrames(10.05), 50);
  clock.OnCallback(100, 100, 10.1);
  EXPECT_EQ(clock.HeardFrames(10.1), 100);
  EXPECT_EQ(clock.HeardFrames(10.125), 125) << "moves between callbacks, not in buffer steps";
}

TEST(PlaybackClock, SmoothsCallbackJitterAndNeverGoesBackwards) {
  PlaybackClock clock(1000.0, 200);  // the device holds two buffers
  // Callbacks every 0.1 s of 100 frames each, each up to 20 ms late, and the
  // clock read every millisecond in between.
  const double lateness[] = {0.0, 0.02, 0.005, 0.015, 0.0, 0.01, 0.02, 0.0};
  int64_t last = 0;
  double worst = 0.0;
  int next = 0;
  for (int ms = 0; ms < 8000; ++ms) {
    const double t = ms * 0.001;
    while (next * 0.1 + lateness[next % 8] <= t) {
      clock.OnCallback(100, 100, next * 0.1 + lateness[next % 8]);
      ++next;
    }
    const int64_t heard = clock.HeardFrames(t);
    EXPECT_GE(heard, last);
    last = heard;
    // The device's true pace is one frame per millisecond; the callbacks are
    // 8.75 ms late on average.
    if (t >= 6.4) worst = std::max(worst, std::abs(static_cast<double>(heard) - (t * 1000.0 - 100.0 - 8.75)));
  }
  EXPECT_LT(worst, 3.0) << "frames off the device's pace, with callbacks up to 20 frames late";
}

TEST(PlaybackClock, NeverRunsPastWhatWasHandedOverAndStaysAtTheEnd) {
  PlaybackClock clock(1000.0, 100);
  for (int k = 0; k < 10; ++k) clock.OnCallback(100, 100, k * 0.1);
  // A stalled device: never past the frames handed over.
  EXPECT_EQ(clock.HeardFrames(5.0), 1000);
  // The device comes back and the track ends inside a buffer, then only
  // silence follows: the position reaches the last frame and stays there.
  clock.OnCallback(100, 30, 6.0);
  for (int k = 1; k <= 10; ++k) clock.OnCallback(100, 0, 6.0 + 0.1 * k);
  EXPECT_EQ(clock.HeardFrames(7.0), 1030);
  EXPECT_EQ(clock.HeardFrames(100.0), 1030);
  // A clock read earlier than the last one (time going backwards) holds too.
  EXPECT_EQ(clock.HeardFrames(1.0), 1030);
}

// A device replayed millisecond by millisecond: it plays one frame a
// millisecond from a queue of three 100-frame buffers, asks for a buffer
// whenever one fits, and its callbacks come 0 to 8 ms late (the queue plays
// on meanwhile). The clock knows only one buffer of latency, as on a bare
// device. Events: start-up (an empty queue is filled by a burst of
// callbacks), a stall that loses the queue (a burst refills it), and a
// suspend that keeps it. Between them the clock must follow the device's
// pace at a constant offset: no hold-then-jump at late callbacks, no
// sawtooth after a restart, never backwards.
TEST(PlaybackClock, StaysSteadyThroughBurstsStallsAndLateCallbacks) {
  PlaybackClock clock(1000.0, 100);
  const double lateness[] = {0.0, 0.008, 0.003, 0.006, 0.001, 0.004, 0.007, 0.002};
  int queue = 0, played = 0, callbacks = 0;
  double due = -1.0;  // when the pending callback was due; -1: none pending
  struct Window {
    int from, to;
    double offset = NAN;
  };
  Window windows[] = {{1000, 2900}, {4300, 5900}, {7000, 12000}};
  int64_t last = 0;
  for (int ms = 0; ms < 12000; ++ms) {
    const double t = ms * 0.001;
    const bool stalled = ms >= 3000 && ms < 3800;
    const bool suspended = ms >= 6000 && ms < 6500;
    if (ms == 3000) queue = 0;  // the stall loses what the device held
    if (!stalled && !suspended) {
      if (queue > 0) {
        --queue;
        ++played;
      }
      if (due < 0 && queue <= 200) due = t;
      // A callback that refills an empty queue comes at once.
      const double late = queue >= 100 ? lateness[callbacks % 8] : 0.0005;
      if (due >= 0 && t >= due + late - 1e-9) {
        clock.OnCallback(100, 100, t);
        queue += 100;
        ++callbacks;
        due = -1.0;
      }
    }
    const int64_t heard = clock.HeardFrames(t);
    ASSERT_GE(heard, last) << "backwards at " << ms << " ms";
    const int64_t step = heard - last;
    last = heard;
    for (Window& w : windows) {
      if (ms < w.from || ms >= w.to) continue;
      EXPECT_LE(step, 3) << "a jump at " << ms << " ms";
      const double offset = static_cast<double>(heard - played);
      if (std::isnan(w.offset)) w.offset = offset;
      EXPECT_NEAR(offset, w.offset, 3.0) << "not at the device's pace at " << ms << " ms";
    }
  }
  EXPECT_GT(callbacks, 100);
}

// A graph of 128-frame cycles at 1024 frames/s (times and frames exact in
// binary), its cycles beginning every 0.125 s from t = 10, the stream's
// frame 0 starting with the first; the clock read every frame's time.
TEST(CycleClock, FollowsTheGraphsCyclesAndStandsWhereTheGraphStops) {
  platform::CycleClock clock(1024.0);
  EXPECT_EQ(clock.PlayedFrames(9.0, 0), 0) << "nothing played before the first cycle";
  for (int cycle = 0; cycle < 5; ++cycle) {
    const double start = 10.0 + 0.125 * cycle;
    clock.OnCycle(start, 128.0 * cycle, 128);
    for (int frame = 0; frame < 128; ++frame)
      ASSERT_EQ(clock.PlayedFrames(start + frame / 1024.0, 128 * (cycle + 1)), 128 * cycle + frame)
          << "cycle " << cycle << ", frame " << frame;
  }
  // The graph stops (a suspended sink): no later cycle comes, and the clock
  // stands at the last frame played, a millisecond's run-on at most.
  EXPECT_EQ(clock.PlayedFrames(10.625, 10000), 640);
  EXPECT_EQ(clock.PlayedFrames(11.5, 10000), 641);
  EXPECT_EQ(clock.PlayedFrames(60.0, 10000), 641);
  platform::CycleClock starved(1024.0);
  starved.OnCycle(10.0, 0.0, 128);
  EXPECT_EQ(starved.PlayedFrames(10.1, 64), 64) << "never past the frames the graph was given";
}

TEST(CycleClock, RunsOnWithTheDriverWhenTheStreamsReportIsLateAndNeverGoesBackwards) {
  platform::CycleClock clock(1024.0);
  clock.OnCycle(10.0, 0.0, 128);
  // The next cycle began at 10.125 by the driver's clock; the stream's own
  // thread has not said so yet: the clock runs on regardless, into that
  // cycle and no further (bar the run-on).
  EXPECT_EQ(clock.PlayedFrames(10.125 + 32 / 1024.0, 1000, 10.125), 160);
  EXPECT_EQ(clock.PlayedFrames(10.5, 1000, 10.125), 257);
  // The stream's report of the cycle comes, and puts the played frame behind
  // what was already given out (a starved stream starting again): the clock
  // holds until the sound catches up.
  clock.OnCycle(10.125, 100.0, 128);
  EXPECT_EQ(clock.PlayedFrames(10.25, 1000, 10.125), 257);
  clock.OnCycle(10.25, 228.0, 128);
  EXPECT_EQ(clock.PlayedFrames(10.25 + 64 / 1024.0, 1000, 10.25), 292);
  // A cycle whose first frame lies before the stream's start (the graph's
  // delay to the device) reads as nothing played yet.
  platform::CycleClock delayed(1024.0);
  delayed.OnCycle(5.0, -32.0, 128);
  EXPECT_EQ(delayed.PlayedFrames(5.0 + 16 / 1024.0, 128), 0);
  EXPECT_EQ(delayed.PlayedFrames(5.0 + 48 / 1024.0, 128), 16);
}

// A server answering ten times a second, its answers a little late and
// uneven, read at 1 kHz throughout: stray answers move nothing, a real move
// is followed after three answers, a stop stands, and the scatter of a
// resuming sink is over within half a second.
TEST(ReportClock, FollowsTheServerThroughStrayAnswersMovesStopsAndResumes) {
  constexpr double kRate = 44100.0;
  platform::ReportClock clock(kRate);
  EXPECT_EQ(clock.PlayedFrames(1.0, 1000), 0) << "nothing played before the first answer";
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> jitter(-0.0003, 0.0003);
  // The true played frame: from t = 1 at a device pace 0.01 % fast, moved
  // on 20 ms at t = 5 (a new sink), stopped from t = 7 to t = 7.5.
  auto truth = [](double t) {
    const double moved = t >= 5.0 ? 0.020 : 0.0;
    const double playing = std::min(t, 7.0) - 1.0 + std::max(t - 7.5, 0.0) + moved;
    return playing * 1.0001 * kRate;
  };
  int64_t last = 0;
  double worstSteady = 0, worstAfterMove = 0, worstAfterResume = 0;
  for (int ms = 1000; ms < 10000; ++ms) {
    const double t = ms / 1000.0;
    if (ms % 100 == 0) {
      const bool moving = t < 7.0 || t >= 7.5;
      double error = jitter(rng);
      if (ms == 2500) error = 0.008;   // a stray answer, far ahead
      if (ms == 3300) error = -0.011;  // and one far behind
      if (ms >= 7500 && ms < 7700) error = (ms / 100 % 2 ? 0.010 : -0.010);  // a resuming sink
      clock.OnReport(t, truth(t) + error * kRate, moving);
    }
    const int64_t played = clock.PlayedFrames(t, 1 << 30);
    ASSERT_GE(played, last) << "backwards at " << ms << " ms";
    last = played;
    const double off = std::abs(static_cast<double>(played) - truth(t)) / kRate * 1000.0;
    if (ms >= 1500 && ms < 5000) worstSteady = std::max(worstSteady, off);
    if (ms >= 5350 && ms < 7000) worstAfterMove = std::max(worstAfterMove, off);
    if (ms >= 8000) worstAfterResume = std::max(worstAfterResume, off);
    if (ms > 7010 && ms < 7500) {
      EXPECT_NEAR(static_cast<double>(played), truth(7.0), 0.0003 * kRate) << "stands while stopped, " << ms;
    }
  }
  EXPECT_LT(worstSteady, 1.0) << "ms off while playing steadily, stray answers and all";
  EXPECT_LT(worstAfterMove, 1.0) << "ms off once three answers showed the move";
  EXPECT_LT(worstAfterResume, 1.0) << "ms off half a second after the sink resumed";
  // Answers that stop coming leave the line running 0.3 s past the newest.
  EXPECT_NEAR(static_cast<double>(clock.PlayedFrames(20.0, 1 << 30)), truth(9.9 + 0.3), 0.001 * kRate);
  platform::ReportClock starved(kRate);
  starved.OnReport(1.0, 0.0, true);
  EXPECT_EQ(starved.PlayedFrames(1.1, 100), 100) << "never past the frames the server was given";
}

TEST(OggStream, DecodesTheWholeTrackAndRejectsWhatIsNotOne) {
  TempDir dir;
  ASSERT_TRUE(WriteTestOgg(dir / "a.ogg", 0.5, 22050, 1));
  platform::OggStream ogg;
  ASSERT_TRUE(ogg.Open((dir / "a.ogg").c_str()));
  EXPECT_EQ(ogg.Rate(), 22050);
  EXPECT_EQ(ogg.Channels(), 1);
  int16_t buf[4096];
  size_t total = 0, n;
  while ((n = ogg.Read(buf, 4096)) > 0) total += n;
  EXPECT_EQ(total, 11025u);
  EXPECT_EQ(ogg.Read(buf, 4096), 0u) << "stays ended";

  const std::string good = ReadFile(dir / "a.ogg");
  std::mt19937 rng(7);
  std::string noise(4096, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  ASSERT_TRUE(WriteFile(dir / "empty.ogg", ""));
  ASSERT_TRUE(WriteFile(dir / "noise.ogg", noise));
  ASSERT_TRUE(WriteFile(dir / "header.ogg", good.substr(0, 40)));
  std::filesystem::create_directory(dir / "dir.ogg");
  for (const char* bad : {"missing.ogg", "empty.ogg", "noise.ogg", "header.ogg", "dir.ogg"}) {
    platform::OggStream s;
    EXPECT_FALSE(s.Open((dir / bad).c_str())) << bad;
    EXPECT_EQ(s.Read(buf, 16), 0u) << bad;
  }
  // Cut in the middle of the audio: plays what is there, then ends.
  ASSERT_TRUE(WriteFile(dir / "cut.ogg", good.substr(0, good.size() / 2)));
  platform::OggStream cut;
  if (cut.Open((dir / "cut.ogg").c_str())) {
    size_t frames = 0;
    for (int i = 0; i < 100 && (n = cut.Read(buf, 4096)) > 0; ++i) frames += n;
    EXPECT_LT(frames, 11025u);
    EXPECT_EQ(cut.Read(buf, 4096), 0u);
  }
}

class SdlAudioTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    audio = platform::CreateSdlAudio();
  }
  TempDir dir;
  std::unique_ptr<platform::Audio> audio;
};

TEST_F(SdlAudioTest, StreamsThatCannotBeDecodedGiveNoHandle) {
  EXPECT_EQ(audio->StreamCreateFile("nothing.ogg"), 0u) << "no device yet";
  ASSERT_TRUE(audio->Init(-1, 44100));
  std::mt19937 rng(3);
  std::string noise(10000, '\0');
  for (char& c : noise) c = static_cast<char>(rng());
  ASSERT_TRUE(WriteFile(dir / "empty.ogg", ""));
  ASSERT_TRUE(WriteFile(dir / "noise.ogg", noise));
  EXPECT_EQ(audio->StreamCreateFile((dir / "missing.ogg").c_str()), 0u);
  EXPECT_EQ(audio->StreamCreateFile((dir / "empty.ogg").c_str()), 0u);
  EXPECT_EQ(audio->StreamCreateFile((dir / "noise.ogg").c_str()), 0u);
  EXPECT_TRUE(audio->Free());
}

TEST_F(SdlAudioTest, PositionFollowsRealTimeAndStopsAtTheEnd) {
  constexpr double kSeconds = 1.0;
  ASSERT_TRUE(WriteTestOgg(dir / "tone.ogg", kSeconds));
  ASSERT_TRUE(audio->Init(-1, 44100));
  const uint32_t stream = audio->StreamCreateFile((dir / "tone.ogg").c_str());
  ASSERT_NE(stream, 0u);
  EXPECT_EQ(audio->ChannelBytes2Seconds(stream, 176400), 1.0) << "16-bit stereo at 44.1 kHz";
  EXPECT_EQ(audio->ChannelGetPosition(stream), 0u) << "nothing plays before the stream is started";
  audio->Start();
  audio->ChannelPlay(stream, false);

  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  std::vector<std::pair<double, double>> moving;  // (wall, music) while playing
  double last = 0.0;
  uint64_t lastBytes = 0;
  while (Clock::now() - start < std::chrono::milliseconds(1600)) {
    const uint64_t bytes = audio->ChannelGetPosition(stream);
    EXPECT_EQ(bytes % 4, 0u) << "whole frames";
    EXPECT_GE(bytes, lastBytes) << "never backwards";
    lastBytes = bytes;
    last = audio->ChannelBytes2Seconds(stream, bytes);
    if (last > 0.1 && last < kSeconds - 0.05)
      moving.emplace_back(std::chrono::duration<double>(Clock::now() - start).count(), last);
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
  }
  // While the music plays, its position lies on a straight line against the
  // wall clock (the dummy device consumes at its own pace, so the slope is
  // only near 1), without the 46 ms steps of a naive buffer count, which lie
  // up to 23 ms off any line. The limit leaves room for a sanitized build on
  // a busy machine, where the dummy driver's own thread slips by a few ms.
  ASSERT_GT(moving.size(), 50u);
  double mx = 0, my = 0;
  for (auto [x, y] : moving) mx += x, my += y;
  mx /= moving.size(), my /= moving.size();
  double sxy = 0, sxx = 0;
  for (auto [x, y] : moving) sxy += (x - mx) * (y - my), sxx += (x - mx) * (x - mx);
  const double slope = sxy / sxx;
  double worst = 0;
  for (auto [x, y] : moving) worst = std::max(worst, std::abs(y - (my + slope * (x - mx))));
  EXPECT_NEAR(slope, 1.0, 0.05);
  EXPECT_LT(worst, 0.012) << "seconds off the line";
  EXPECT_DOUBLE_EQ(last, kSeconds) << "stays at the end after the end";
  EXPECT_TRUE(audio->Stop());
  EXPECT_TRUE(audio->Free());
  EXPECT_FALSE(audio->Free());
}

}  // namespace
