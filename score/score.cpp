#include "score/score.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <limits>

namespace sorvane::score {
namespace {

enum PitchClass { C = 0, D = 2, E = 4, F = 5, G = 7, A = 9, B = 11 };

struct WrittenChord {
  std::string_view name;
  std::vector<int> tones;
  double length;
};

struct WrittenSection {
  std::string_view name;
  std::vector<WrittenChord> chords;
};

// The progression, section by section.
const std::vector<WrittenSection>& Progression() {
  static const std::vector<WrittenSection> sections = {
      {"opening",  // the tonic, its dorian IV, and a first slow turn
       {{"Dm7", {D, F, A, C}, 16}, {"Gadd9", {G, B, D, A}, 12}, {"Fmaj7", {F, A, C, E}, 12},
        {"Cadd9", {C, E, G, D}, 12}, {"Dm(add9)", {D, F, A, E}, 12}}},
      {"first swell",
       {{"Am7", {A, C, E, G}, 12}, {"Fadd9", {F, A, C, G}, 12}, {"Gadd9", {G, B, D, A}, 12},
        {"Em7", {E, G, B, D}, 10}, {"Fmaj7", {F, A, C, E}, 10}, {"Cmaj7", {C, E, G, B}, 8}}},
      {"thinning",  // dark and low
       {{"Dm7", {D, F, A, C}, 16}, {"Bm7b5", {B, D, F, A}, 12}, {"Fmaj7", {F, A, C, E}, 10},
        {"Cadd9", {C, E, G, D}, 10}}},
      {"great swell",
       {{"Gadd9", {G, B, D, A}, 12}, {"Am7", {A, C, E, G}, 12}, {"Fadd9", {F, A, C, G}, 12},
        {"Cmaj7", {C, E, G, B}, 12}, {"Em7", {E, G, B, D}, 12}}},
      {"settling",  // then home under the fade
       {{"Fmaj7", {F, A, C, E}, 12}, {"Gadd9", {G, B, D, A}, 14}, {"Dm7", {D, F, A, C}, 14},
        {"Dm(add9)", {D, F, A, E}, 14}}},
  };
  return sections;
}

// Keyframes of the form: time, pad, cutoff, bass, bells.
const std::vector<Dynamics>& Form() {
  static const std::vector<Dynamics> form = {
      {0, 0.30f, 380, 0.00f, 0.00f},   {5, 0.50f, 480, 0.10f, 0.00f},
      {14, 0.56f, 650, 0.40f, 0.25f},  {40, 0.60f, 850, 0.60f, 0.45f},
      {64, 0.66f, 1000, 0.70f, 0.55f}, {96, 0.85f, 1700, 0.90f, 0.90f},
      {118, 0.90f, 2100, 1.00f, 1.00f}, {134, 0.55f, 750, 0.45f, 0.30f},
      {160, 0.50f, 620, 0.40f, 0.25f}, {176, 0.60f, 900, 0.60f, 0.50f},
      {206, 1.00f, 2500, 1.00f, 1.00f}, {228, 0.95f, 2300, 1.00f, 0.90f},
      {250, 0.68f, 1200, 0.70f, 0.50f}, {269, 0.62f, 1000, 0.60f, 0.40f},
      {284, 0.30f, 520, 0.20f, 0.05f}, {290, 0.20f, 450, 0.00f, 0.00f},
  };
  return form;
}

// Bell motifs: steps through the chord tones, relative to a starting tone.
const std::vector<std::vector<int>>& Motifs() {
  static const std::vector<std::vector<int>> motifs = {
      {0, 1, 2}, {2, 1}, {0, 2, 3, 1}, {3}, {1, 2, 4, 2}, {0, 1}, {4, 3, 2}, {2},
  };
  return motifs;
}

// Small deterministic generator for the placement of bell phrases.
class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed) {}
  float Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return float(state_ >> 8) * (1.0f / 16777216.0f);
  }

 private:
  uint32_t state_;
};

bool IsChordTone(int midi, const std::vector<int>& pitchClasses) {
  return std::find(pitchClasses.begin(), pitchClasses.end(), ((midi % 12) + 12) % 12) !=
         pitchClasses.end();
}

int NearestChordTone(int midi, const std::vector<int>& pitchClasses, int lowest, int highest) {
  for (int d = 0; d < 12; ++d)
    for (int candidate : {midi - d, midi + d})
      if (candidate >= lowest && candidate <= highest && IsChordTone(candidate, pitchClasses))
        return candidate;
  return midi;
}

std::vector<BellNote> PlaceBells(const Score& score) {
  std::vector<BellNote> bells;
  Random random(0x5a0b311);
  size_t motif = 0;
  double t = 11.0;
  const double lastPhrase = score.fadeOutStart + 6.0;
  while (t < lastPhrase) {
    const float density = score.DynamicsAt(t).bells;
    if (density < 0.1f) {
      t += 3.0;
      continue;
    }
    const ChordEvent& chord = score.ChordAt(t);
    // Chord tones from C5 up to about G6, lowest first.
    std::vector<int> tones;
    for (int midi = 72; midi <= 91; ++midi)
      if (IsChordTone(midi, chord.pitchClasses)) tones.push_back(midi);
    const std::vector<int>& steps = Motifs()[motif++ % Motifs().size()];
    const int startTone = int(random.Next() * 3.0f);
    const float pan = (random.Next() - 0.5f) * 1.2f;
    double noteTime = t;
    for (size_t i = 0; i < steps.size(); ++i) {
      const int index = std::clamp(startTone + steps[i], 0, int(tones.size()) - 1);
      const float velocity = (0.55f + 0.45f * random.Next()) * (0.5f + 0.5f * density);
      bells.push_back({noteTime, tones[size_t(index)], velocity,
                       std::clamp(pan + 0.25f * float(i % 2 ? 1 : -1), -0.8f, 0.8f)});
      noteTime += 0.75 + 0.5 * random.Next();
    }
    const double gap = (5.0 + 7.0 * random.Next()) / std::max(density, 0.3f);
    t = noteTime + std::clamp(gap, 4.0, 22.0);
  }
  return bells;
}

}  // namespace

bool Scale::Contains(int midi) const {
  const int degree = (((midi - tonic) % 12) + 12) % 12;
  return std::find(steps.begin(), steps.end(), degree) != steps.end();
}

Dynamics Score::DynamicsAt(double time) const {
  if (dynamics.empty()) return {};
  if (time <= dynamics.front().time) return dynamics.front();
  if (time >= dynamics.back().time) return dynamics.back();
  auto next = std::upper_bound(dynamics.begin(), dynamics.end(), time,
                               [](double t, const Dynamics& d) { return t < d.time; });
  const Dynamics& b = *next;
  const Dynamics& a = *(next - 1);
  const float w = float((time - a.time) / (b.time - a.time));
  auto lerp = [w](float x, float y) { return x + (y - x) * w; };
  return {time, lerp(a.pad, b.pad), lerp(a.cutoff, b.cutoff), lerp(a.bass, b.bass),
          lerp(a.bells, b.bells)};
}

const ChordEvent& Score::ChordAt(double time) const {
  for (const ChordEvent& c : chords)
    if (time < c.start + c.length) return c;
  return chords.back();
}

Voicing LeadVoices(const Voicing& from, const std::vector<int>& pitchClasses, int lowest,
                   int highest) {
  std::array<std::vector<int>, 4> candidates;
  for (size_t v = 0; v < 4; ++v)
    for (int p = std::max(lowest, from[v] - 7); p <= std::min(highest, from[v] + 7); ++p)
      if (IsChordTone(p, pitchClasses)) candidates[v].push_back(p);

  const size_t mustCover = std::min<size_t>(pitchClasses.size(), 4);
  Voicing best{};
  int bestCost = std::numeric_limits<int>::max(), bestPeak = 0;
  bool found = false;
  for (int a : candidates[0])
    for (int b : candidates[1])
      for (int c : candidates[2])
        for (int d : candidates[3]) {
          if (!(a < b && b < c && c < d)) continue;
          const Voicing v{a, b, c, d};
          size_t covered = 0;
          for (int pc : pitchClasses)
            if (std::any_of(v.begin(), v.end(), [pc](int p) { return p % 12 == pc; })) ++covered;
          if (covered < mustCover) continue;
          int cost = 0, peak = 0;
          for (size_t i = 0; i < 4; ++i) {
            cost += std::abs(v[i] - from[i]);
            peak = std::max(peak, std::abs(v[i] - from[i]));
          }
          if (!found || cost < bestCost || (cost == bestCost && peak < bestPeak)) {
            best = v, bestCost = cost, bestPeak = peak, found = true;
          }
        }
  if (found) return best;
  Voicing fallback{};
  for (size_t i = 0; i < 4; ++i)
    fallback[i] = NearestChordTone(from[i], pitchClasses, lowest, highest);
  return fallback;
}

Score ComposeScore() {
  Score score;
  score.fadeInEnd = 5.0;
  score.dynamics = Form();

  Voicing voices{50, 57, 60, 65};  // D3 A3 C4 F4: an open Dm7
  int bass = 38;                   // D2
  double start = 0.0;
  for (const WrittenSection& section : Progression()) {
    score.sections.push_back({start, section.name});
    for (const WrittenChord& w : section.chords) {
      ChordEvent c;
      c.start = start;
      c.length = w.length;
      c.name = w.name;
      c.pitchClasses = w.tones;
      if (start > 0.0) voices = LeadVoices(voices, w.tones, 48, 76);
      c.voices = voices;
      // The root, in the octave nearest the previous bass note, A1 to A2.
      int root = 33 + ((w.tones.front() - 33 % 12) + 12) % 12;
      if (root + 12 <= 45 && std::abs(root + 12 - bass) < std::abs(root - bass)) root += 12;
      c.bass = bass = root;
      score.chords.push_back(c);
      start += w.length;
    }
  }
  score.length = start;
  PlaceEnding(score);
  score.bells = PlaceBells(score);
  return score;
}

const Score& ThePiece() {
  static const Score piece = ComposeScore();
  return piece;
}

void PlaceEnding(Score& score) {
  score.fadeOutStart = score.length - 21.0;
  score.silenceAt = score.length - 2.0;
}

}  // namespace sorvane::score
