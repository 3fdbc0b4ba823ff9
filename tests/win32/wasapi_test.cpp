// Windows' own audio backend under Wine, whose sound system is the private
// PulseAudio scripts/test-windows runs the Windows suites beside: the track
// plays at the device's pace, the position never steps back, and a file that
// cannot be decoded is refused.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "measure/workbench.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(WasapiAudio, PlaysTheTrackAtTheDevicesPaceAndNeverStepsBack) {
  TempDir dir;
  const std::string track = dir / "tone.ogg";
  ASSERT_TRUE(WriteTestOgg(track, 6.0));
  auto audio = platform::CreateWasapiAudio();
  ASSERT_TRUE(audio->Init(-1, 44100)) << "no output device: is Wine's sound system reaching the private PulseAudio?";
  EXPECT_EQ(audio->StreamCreateFile((dir / "missing.ogg").c_str()), 0u);
  const uint32_t stream = audio->StreamCreateFile(track.c_str());
  ASSERT_NE(stream, 0u);
  audio->Start();
  audio->ChannelPlay(stream, false);
  std::vector<std::pair<double, double>> seen;  // (seconds since play, music seconds)
  const auto start = Clock::now();
  while (Clock::now() - start < std::chrono::milliseconds(5000)) {
    seen.emplace_back(std::chrono::duration<double>(Clock::now() - start).count(),
                      audio->ChannelBytes2Seconds(stream, audio->ChannelGetPosition(stream)));
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  audio->Stop();
  audio->Free();
  int backward = 0;
  for (size_t i = 1; i < seen.size(); ++i) backward += seen[i].second < seen[i - 1].second;
  EXPECT_EQ(backward, 0);
  // Over the last two seconds: the music's own pace. (Wine's device clock
  // runs slow for the first second or two on a null sink that has just
  // woken, as the sink's own first latency drains.)
  auto at = [&](double t) {
    for (const auto& [when, music] : seen)
      if (when >= t) return music;
    return seen.back().second;
  };
  EXPECT_NEAR(at(4.9) - at(2.9), 2.0, 0.1);
  EXPECT_GT(at(2.9), 1.0) << "the music did not start";
}

}  // namespace
