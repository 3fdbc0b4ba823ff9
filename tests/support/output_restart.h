// output_restart.h — the music and the picture through the death and return
// of their output, checked alike on every platform.
//
// What it is for: the restart tests of Linux (a private PulseAudio or
// PipeWire killed and started again) and of Windows (Wine's sound system
// killed and started again under the WASAPI stream) hold the desktop's audio
// to the same promises: the position runs on through the outage, the music is
// back on the output within a second of it answering, then follows the
// output's clock at the music's pace, never running ahead of the sound and
// never stepping back.
//
// How to use it: call `ExpectMusicSurvivesItsOutput` with a folder for the
// track and how to kill the output, start it again and count the streams
// playing on it. It plays a track through the desktop's audio, records
// failures with gtest's EXPECT_*/ASSERT_* and prints the figures.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "measure/workbench.h"

struct OutputControl {
  std::function<void()> kill;
  std::function<bool()> start;    // false: the output did not come back
  std::function<int()> streams;   // the streams playing on the output now
};

inline void ExpectMusicSurvivesItsOutput(const TempDir& folder, const OutputControl& output) {
  using Clock = std::chrono::steady_clock;
  using namespace std::chrono_literals;
  const std::string track = folder / "tone.ogg";
  ASSERT_TRUE(WriteTestOgg(track, 14.0));
  auto played = platform::CreateDesktopAudio();
  platform::Audio& audio = *played;
  ASSERT_TRUE(audio.Init(-1, 44100));
  const uint32_t stream = audio.StreamCreateFile(track.c_str());
  ASSERT_NE(stream, 0u);
  audio.Start();
  audio.ChannelPlay(stream, false);
  std::vector<std::pair<double, double>> seen;  // (seconds since start, music seconds)
  const auto start = Clock::now();
  auto watch = [&](Clock::duration length) {
    const auto end = Clock::now() + length;
    do {
      seen.emplace_back(std::chrono::duration<double>(Clock::now() - start).count(),
                        audio.ChannelBytes2Seconds(stream, audio.ChannelGetPosition(stream)));
      std::this_thread::sleep_for(5ms);
    } while (Clock::now() < end);
    return seen.back().second;
  };
  // A null sink on its own can take two seconds to play its first frame.
  watch(3000ms);
  ASSERT_GT(seen.back().second, 0.5) << "the music does not play";
  ASSERT_EQ(output.streams(), 1) << "not playing through the test's output";

  output.kill();
  const double atKill = seen.back().second;
  const double afterOutage = watch(1500ms);
  EXPECT_GT(afterOutage - atKill, 1.35) << "the picture froze with its output";

  ASSERT_TRUE(output.start()) << "the output did not start again";
  const auto returned = Clock::now();
  // Read afresh: the position ran on while the output started.
  const double atReturn = watch(1ms);
  double reconnect = -1;
  while (Clock::now() - returned < 3s && reconnect < 0) {
    watch(50ms);
    if (output.streams() == 1) reconnect = std::chrono::duration<double>(Clock::now() - returned).count();
  }
  EXPECT_GE(reconnect, 0.0) << "the music did not come back to the output";
  EXPECT_LT(reconnect, 1.0) << "the music took too long to come back";
  const double resumed = watch(4s - (Clock::now() - returned));
  // Back on the output's clock: at its pace again, having waited at most the
  // reconnection and the new output's first latency.
  EXPECT_NEAR(watch(1000ms) - resumed, 1.0, 0.1) << "not at the music's pace after the output came back";
  EXPECT_GT(resumed - atReturn, 4.0 - 3.0) << "the picture waited too long for the music";
  EXPECT_LT(resumed - atReturn, 4.0 + 0.05) << "the picture ran ahead of the music";

  int backward = 0;
  for (size_t i = 1; i < seen.size(); ++i) backward += seen[i].second < seen[i - 1].second;
  EXPECT_EQ(backward, 0) << "the position stepped back";
  std::printf("at the kill %.2f s; 1.5 s later %.2f s; at the return %.2f s; playing again on the output %.2f s "
              "later; 4 s after the return %.2f s\n", atKill, afterOutage, atReturn, reconnect, resumed);
  audio.Stop();
  audio.Free();
}
