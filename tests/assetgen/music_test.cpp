#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include <ebur128.h>

#include "tools/assetgen/master.h"
#include "tests/assetgen/support.h"
#include "tools/assetgen/synth.h"

namespace sorvane::assetgen {
namespace {

constexpr double kPi = 3.14159265358979323846;

struct Ebur128Figures {
  double integrated = 0, range = 0, truePeakDb = 0;
};

// Independent measurement with libebur128 alone (its own true-peak meter).
Ebur128Figures Measure(const std::vector<float>& left, const std::vector<float>& right, int rate) {
  std::unique_ptr<ebur128_state, void (*)(ebur128_state*)> st(
      ebur128_init(2, unsigned(rate), EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK),
      [](ebur128_state* s) { ebur128_destroy(&s); });
  std::vector<float> chunk;
  for (size_t start = 0; start < left.size(); start += 16384) {
    const size_t n = std::min<size_t>(16384, left.size() - start);
    chunk.resize(2 * n);
    for (size_t i = 0; i < n; ++i) chunk[2 * i] = left[start + i], chunk[2 * i + 1] = right[start + i];
    ebur128_add_frames_float(st.get(), chunk.data(), n);
  }
  Ebur128Figures f;
  ebur128_loudness_global(st.get(), &f.integrated);
  ebur128_loudness_range(st.get(), &f.range);
  double peakL = 0, peakR = 0;
  ebur128_true_peak(st.get(), 0, &peakL);
  ebur128_true_peak(st.get(), 1, &peakR);
  f.truePeakDb = 20.0 * std::log10(std::max(peakL, peakR));
  return f;
}

double RmsDb(const test::AudioTrack& t, double from, double to) {
  const size_t a = size_t(from * t.rate), b = std::min(t.left.size(), size_t(to * t.rate));
  double sum = 0.0;
  for (size_t i = a; i < b; ++i) sum += double(t.left[i]) * t.left[i] + double(t.right[i]) * t.right[i];
  return 10.0 * std::log10(sum / (2.0 * double(b - a)) + 1e-20);
}

class Track : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    track_ = new test::AudioTrack(test::DecodeOgg(test::RunPath("04-Slow_Amber_Circles.ogg")));
  }
  static void TearDownTestSuite() {
    delete track_;
    track_ = nullptr;
  }
  static test::AudioTrack* track_;
};
test::AudioTrack* Track::track_ = nullptr;

TEST_F(Track, DecodesAsAStereoTrackOfTheRightLength) {
  const test::AudioTrack& t = *track_;
  ASSERT_EQ(t.channels, 2);
  EXPECT_EQ(t.rate, 44100);
  const double seconds = double(t.left.size()) / t.rate;
  EXPECT_GE(seconds, 289.0);
  EXPECT_LE(seconds, 291.0);
}

TEST_F(Track, MeetsTheLoudnessPeakAndDcTargets) {
  const test::AudioTrack& t = *track_;
  ASSERT_EQ(t.channels, 2);
  const Ebur128Figures f = Measure(t.left, t.right, t.rate);
  EXPECT_NEAR(f.integrated, -16.0, 1.0);
  EXPECT_GE(f.range, 4.0);
  EXPECT_LE(f.range, 10.0);
  EXPECT_LE(f.truePeakDb, -1.0);

  double sumL = 0, sumR = 0, ll = 0, rr = 0, lr = 0;
  size_t clipped = 0;
  for (size_t i = 0; i < t.left.size(); ++i) {
    const double l = t.left[i], r = t.right[i];
    sumL += l, sumR += r, ll += l * l, rr += r * r, lr += l * r;
    if (std::fabs(l) >= 1.0 || std::fabs(r) >= 1.0) ++clipped;
  }
  const double n = double(t.left.size());
  EXPECT_LT(std::fabs(sumL / n), 0.001);
  EXPECT_LT(std::fabs(sumR / n), 0.001);
  EXPECT_EQ(clipped, 0u);
  const double correlation = lr / std::sqrt(ll * rr);
  EXPECT_GE(correlation, 0.3) << "channels nearly unrelated";
  EXPECT_LE(correlation, 0.95) << "nearly mono";
}

TEST_F(Track, FollowsThePicture) {
  const test::AudioTrack& t = *track_;
  ASSERT_EQ(t.channels, 2);
  // Quiet start rising over the first five seconds.
  EXPECT_LT(RmsDb(t, 0.0, 1.0), RmsDb(t, 4.0, 5.0) - 6.0);
  EXPECT_LT(RmsDb(t, 4.0, 5.0), RmsDb(t, 20.0, 30.0) + 1.0);
  // Fades out from 269 s, silent by 288 s.
  EXPECT_GT(RmsDb(t, 266.0, 269.0), RmsDb(t, 276.0, 279.0) + 3.0);
  EXPECT_GT(RmsDb(t, 276.0, 279.0), RmsDb(t, 284.0, 286.0) + 6.0);
  EXPECT_LT(RmsDb(t, 288.0, 290.0), -70.0);
  // Sections swell and thin out: louder and quieter stretches in between.
  double loudest = -200, quietest = 0;
  for (double s = 20.0; s < 260.0; s += 10.0) {
    const double db = RmsDb(t, s, s + 10.0);
    loudest = std::max(loudest, db);
    quietest = std::min(quietest, db);
  }
  EXPECT_GT(loudest - quietest, 4.0);
}

StereoBuffer Tone(double seconds, double hz, double amplitude, double phase) {
  StereoBuffer b;
  b.sampleRate = 44100;
  const size_t n = size_t(seconds * b.sampleRate);
  b.left.resize(n);
  b.right.resize(n);
  for (size_t i = 0; i < n; ++i) {
    const float v = float(amplitude * std::sin(2.0 * kPi * hz * double(i) / b.sampleRate + phase));
    b.left[i] = v;
    b.right[i] = 0.5f * v;
  }
  return b;
}

TEST(Master, TruePeakSeesBetweenTheSamples) {
  // A quarter-rate sine sampled 45 degrees off its crests: every sample is
  // at 0.707 of the amplitude, the waveform itself reaches it.
  const StereoBuffer b = Tone(1.0, 11025.0, 0.5, kPi / 4.0);
  float samplePeak = 0.0f;
  for (float v : b.left) samplePeak = std::max(samplePeak, std::fabs(v));
  EXPECT_NEAR(samplePeak, 0.5 * std::sqrt(0.5), 1e-3);
  EXPECT_NEAR(TruePeak(b), 0.5, 0.01);
}

TEST(Master, ReachesTheTargetAndKeepsPeaksUnderTheCeiling) {
  // A quiet bed with loud bursts whose peaks fall between samples: reaching
  // -16 LUFS needs gain that would push the bursts far over the ceiling.
  StereoBuffer b = Tone(30.0, 220.0, 0.02, 0.0);
  const StereoBuffer burst = Tone(0.2, 11025.0, 0.5, kPi / 4.0);
  for (size_t start = 44100; start + burst.Frames() < b.Frames(); start += 3 * 44100)
    for (size_t i = 0; i < burst.Frames(); ++i) {
      b.left[start + i] += burst.left[i];
      b.right[start + i] += burst.right[i];
    }
  const LoudnessFigures reported = MasterToTarget(b, MasterTarget{-16.0, -1.5});
  const Ebur128Figures measured = Measure(b.left, b.right, b.sampleRate);
  EXPECT_NEAR(measured.integrated, -16.0, 0.1);
  EXPECT_LE(measured.truePeakDb, -1.4);
  EXPECT_NEAR(reported.integratedLufs, measured.integrated, 0.05);
  EXPECT_NEAR(reported.truePeakDbtp, measured.truePeakDb, 0.3);
}

TEST(Master, LeavesSilenceAlone) {
  StereoBuffer b;
  b.left.assign(44100 * 3, 0.0f);
  b.right.assign(44100 * 3, 0.0f);
  MasterToTarget(b, MasterTarget{});
  EXPECT_TRUE(std::all_of(b.left.begin(), b.left.end(), [](float v) { return v == 0.0f; }));
}

TEST(Reverb, ImpulseDecaysIntoADecorrelatedStereoTail) {
  Freeverb reverb(0.86f, 0.45f, 1.0f);
  const size_t n = 44100 * 4;
  std::vector<float> l(n), r(n);
  for (size_t i = 0; i < n; ++i) reverb.Process(i == 0 ? 1.0f : 0.0f, 0.0f, l[i], r[i]);
  auto energy = [&](double from, double to) {
    double e = 0.0;
    for (size_t i = size_t(from * 44100); i < size_t(to * 44100); ++i) e += l[i] * l[i] + r[i] * r[i];
    return e;
  };
  // Nothing comes out before the shortest comb delay.
  for (size_t i = 0; i < 1116; ++i) ASSERT_EQ(l[i], 0.0f);
  const double early = energy(0.0, 0.5), late = energy(3.0, 4.0);
  EXPECT_GT(early, 0.0);
  EXPECT_LT(late, early * 1e-3) << "the tail does not die away";
  EXPECT_GT(late, 0.0) << "no tail at all";
  double ll = 0, rr = 0, lr = 0;
  for (size_t i = 0; i < n; ++i) ll += l[i] * l[i], rr += r[i] * r[i], lr += l[i] * r[i];
  EXPECT_LT(std::fabs(lr / std::sqrt(ll * rr)), 0.5) << "left and right tails are alike";
}

}  // namespace
}  // namespace sorvane::assetgen
