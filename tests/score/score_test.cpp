#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <set>

#include "score/score.h"

namespace sorvane::score {
namespace {

TEST(Score, EveryNoteIsInTheMode) {
  const Score score = ComposeScore();
  ASSERT_FALSE(score.chords.empty());
  ASSERT_FALSE(score.bells.empty());
  for (const ChordEvent& c : score.chords) {
    SCOPED_TRACE(std::string(c.name));
    for (int midi : c.voices) EXPECT_TRUE(score.scale.Contains(midi)) << midi;
    EXPECT_TRUE(score.scale.Contains(c.bass)) << c.bass;
    for (int pc : c.pitchClasses) EXPECT_TRUE(score.scale.Contains(pc + 60)) << pc;
  }
  for (const BellNote& b : score.bells) EXPECT_TRUE(score.scale.Contains(b.midi)) << b.midi;
  // The mode really is D dorian: D, E, F, G, A, B, C and nothing else.
  std::set<int> classes;
  for (int pc = 0; pc < 12; ++pc)
    if (score.scale.Contains(pc)) classes.insert(pc);
  EXPECT_EQ(classes, (std::set<int>{2, 4, 5, 7, 9, 11, 0}));
}

TEST(Score, ChordsAreSlowBackToBackAndCoverThePiece) {
  const Score score = ComposeScore();
  double expectedStart = 0.0;
  for (const ChordEvent& c : score.chords) {
    SCOPED_TRACE(std::string(c.name));
    EXPECT_GE(c.length, 8.0);
    EXPECT_LE(c.length, 16.0);
    EXPECT_NEAR(c.start, expectedStart, 1e-9);
    expectedStart = c.start + c.length;
    // The pad sounds every chord tone and only chord tones, in order.
    for (int pc : c.pitchClasses)
      EXPECT_TRUE(std::any_of(c.voices.begin(), c.voices.end(), [pc](int m) { return m % 12 == pc; }));
    EXPECT_TRUE(std::is_sorted(c.voices.begin(), c.voices.end()));
    EXPECT_EQ(c.bass % 12, c.pitchClasses.front()) << "bass is the root";
  }
  EXPECT_GE(score.length, 289.0);
  EXPECT_LE(score.length, 291.0);
  EXPECT_NEAR(expectedStart, score.length, 1e-9);
  for (const BellNote& b : score.bells) {
    EXPECT_GE(b.time, 0.0);
    EXPECT_LT(b.time, score.silenceAt);
  }
}

TEST(Score, VoicesMoveLittleBetweenChords) {
  const Score score = ComposeScore();
  double total = 0.0;
  int changes = 0;
  for (size_t i = 1; i < score.chords.size(); ++i) {
    for (size_t v = 0; v < 4; ++v) {
      const int step = std::abs(score.chords[i].voices[v] - score.chords[i - 1].voices[v]);
      EXPECT_LE(step, 7) << "voice " << v << " leaps at chord " << i;
      total += step;
    }
    ++changes;
  }
  ASSERT_GT(changes, 0);
  EXPECT_LE(total / (4.0 * changes), 2.0);
}

TEST(Score, LeadVoicesFindsTheSmallestMove) {
  // Cmaj7 (C E G B) to Am7 (A C E G): keep the common tones, B steps to A.
  EXPECT_EQ(LeadVoices({60, 64, 67, 71}, {9, 0, 4, 7}, 48, 84), (Voicing{60, 64, 67, 69}));
  // C major triad to F major: C stays, E up to F, G up to A; the doubled
  // top C stays.
  EXPECT_EQ(LeadVoices({48, 55, 64, 72}, {5, 9, 0}, 36, 84), (Voicing{48, 57, 65, 72}));
  // Range limits are respected even when the nearest tone lies outside.
  const Voicing capped = LeadVoices({60, 64, 67, 72}, {2, 5, 9, 0}, 48, 72);
  for (int m : capped) {
    EXPECT_GE(m, 48);
    EXPECT_LE(m, 72);
  }
  // No voicing fits (range too narrow for four voices): still chord tones,
  // nearest to where each voice was.
  EXPECT_EQ(LeadVoices({60, 61, 62, 63}, {0}, 60, 62), (Voicing{60, 60, 60, 60}));
}

TEST(Score, FormRisesSwellsThinsAndFades) {
  const Score score = ComposeScore();
  EXPECT_NEAR(score.fadeInEnd, 5.0, 1e-9);
  EXPECT_NEAR(score.fadeOutStart, 269.0, 1e-9);
  EXPECT_LE(score.silenceAt, 289.0);
  float loudest = 0.0f, quietestAfterSwell = 1.0f;
  double loudestAt = 0.0;
  for (double t = 20.0; t < 260.0; t += 1.0) {
    const float pad = score.DynamicsAt(t).pad;
    if (pad > loudest) loudest = pad, loudestAt = t;
  }
  for (double t = 120.0; t < 200.0; t += 1.0)
    quietestAfterSwell = std::min(quietestAfterSwell, score.DynamicsAt(t).pad);
  EXPECT_GT(loudestAt, 60.0);
  EXPECT_LT(quietestAfterSwell, 0.7f * loudest) << "no section thins out";
  EXPECT_GT(score.DynamicsAt(60.0).pad, score.DynamicsAt(1.0).pad);
  EXPECT_LT(score.DynamicsAt(285.0).pad, score.DynamicsAt(265.0).pad);
}

}  // namespace
}  // namespace sorvane::score
