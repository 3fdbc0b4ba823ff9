// score.h — the score of "Slow Amber Circles": what is played, as plain
// data, and the time the picture keeps with it.
//
// What it is for: the one description of the piece. The asset generator
// renders the music from it and writes its timeline into the vertex shaders
// (tools/assetgen); the effects keep its times (the rise from black, the
// fall to black and the credits) and the picture's clock. It sits below
// both and needs neither.
//
// ComposeScore returns the whole piece: a chord progression in D dorian
// (one chord every 8 to 16 seconds, four pad voices moved by LeadVoices so
// that each voice travels as little as possible), a bass root under every
// chord, sparse bell phrases drawn from the chord tones, and a table of
// dynamics keyframes that shapes the form (a quiet start, sections that
// swell and thin out, the fade at the end); the chords are grouped into
// named sections. Pitches are MIDI note numbers, times are seconds from the
// start. Everything is pure and deterministic; nothing here fails. The
// generator's synthesiser turns a Score into sound.
#pragma once

#include <array>
#include <string_view>
#include <vector>

namespace sorvane::score {

// A seven-note mode: tonic pitch class and the pitch classes above it.
struct Scale {
  int tonic = 2;                               // D
  std::array<int, 7> steps{0, 2, 3, 5, 7, 9, 10};  // dorian
  bool Contains(int midi) const;
};

using Voicing = std::array<int, 4>;  // pad voices, lowest first

struct ChordEvent {
  double start = 0.0;
  double length = 0.0;
  std::string_view name;
  std::vector<int> pitchClasses;  // chord tones, 0 = C
  Voicing voices{};
  int bass = 0;
};

// A part of the form: it runs from its start to the next one's (the last to
// the end of the piece) and always begins on a chord change.
struct Section {
  double start = 0.0;
  std::string_view name;
};

struct BellNote {
  double time = 0.0;
  int midi = 0;
  float velocity = 0.0f;  // 0..1
  float pan = 0.0f;       // -1 left .. 1 right
};

// Levels of the parts at one moment; the synthesiser interpolates linearly
// between keyframes.
struct Dynamics {
  double time = 0.0;
  float pad = 0.0f;       // pad level, 0..1
  float cutoff = 0.0f;    // pad low-pass cutoff in Hz
  float bass = 0.0f;      // bass level, 0..1
  float bells = 0.0f;     // bell level and density, 0..1
};

struct Score {
  double length = 0.0;        // seconds of audio to render
  double fadeInEnd = 0.0;     // the whole mix rises from silence until here
  double fadeOutStart = 0.0;  // and falls from here ...
  double silenceAt = 0.0;     // ... to silence here, tails included
  Scale scale;
  std::vector<Section> sections;   // in time order, the first at 0
  std::vector<ChordEvent> chords;  // back to back, from 0
  std::vector<BellNote> bells;     // in time order
  std::vector<Dynamics> dynamics;  // in time order, first at 0

  Dynamics DynamicsAt(double time) const;
  const ChordEvent& ChordAt(double time) const;
};

// The voicing of a chord closest to `from`: each voice takes a chord tone
// within a fifth of where it was and inside [lowest, highest], the voices
// stay in ascending order, every chord tone sounds (for chords of up to four
// tones) and the total movement is the smallest possible. Falls back to
// moving each voice to its nearest chord tone when no such voicing exists.
Voicing LeadVoices(const Voicing& from, const std::vector<int>& pitchClasses, int lowest,
                   int highest);

Score ComposeScore();

// The piece as ComposeScore writes it, composed once on first use and kept:
// what the effects keep time by.
const Score& ThePiece();

// The picture's clock, for the shaders and the effects alike: the shaders'
// uniform "t" is seconds × kTimeScale, and the camera slides kSlide world
// units a second.
inline constexpr float kTimeScale = 0.3f;
inline constexpr float kSlide = 0.04f;

// The ending, from the piece's length: the mix falls from 21 s before the
// end to silence 2 s before it (the picture's fade to black and its credits
// start with that fall). ComposeScore calls it; a score made longer or
// shorter calls it again.
void PlaceEnding(Score& score);

}  // namespace sorvane::score
