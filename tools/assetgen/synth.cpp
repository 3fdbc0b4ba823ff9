#include "tools/assetgen/synth.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE__)
#include <xmmintrin.h>
#endif

#include "tools/assetgen/noise.h"

namespace sorvane::assetgen {

using score::BellNote;
using score::ChordEvent;
using score::Dynamics;
using score::Score;

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kControlBlock = 64;  // samples per control-rate step

double MidiToHz(double midi) { return 440.0 * std::pow(2.0, (midi - 69.0) / 12.0); }

// Equal-power pan gains for pan in [-1, 1].
void PanGains(float pan, float& left, float& right) {
  const double angle = (double(pan) + 1.0) * 0.25 * kPi;
  left = float(std::cos(angle));
  right = float(std::sin(angle));
}

// Smooth rise over `attack` seconds from the start and smooth fall over
// `release` seconds from `end`; t and end are relative to the note's start.
double NoteEnvelope(double t, double end, double attack, double release) {
  const double a = std::sin(0.5 * kPi * std::min(1.0, t / attack));
  double r = 1.0;
  if (t > end) r = std::cos(0.5 * kPi * std::min(1.0, (t - end) / release));
  return a * a * r * r;
}

// Sawtooth with PolyBLEP corrections at the wrap, which removes most of the
// aliasing of a naive ramp. The phase increment may change between samples.
struct PolyBlepSaw {
  double phase = 0.0;
  double increment = 0.0;  // cycles per sample, below 0.5

  float Next() {
    const double t = phase, dt = increment;
    double y = 2.0 * t - 1.0;
    if (t < dt) {
      const double x = t / dt;
      y -= x + x - x * x - 1.0;
    } else if (t > 1.0 - dt) {
      const double x = (t - 1.0) / dt;
      y -= x * x + x + x + 1.0;
    }
    phase += dt;
    if (phase >= 1.0) phase -= 1.0;
    return float(y);
  }
};

// Topology-preserving state-variable low-pass (12 dB per octave).
struct SvfLowpass {
  float ic1 = 0.0f, ic2 = 0.0f;
  float a1 = 0.0f, a2 = 0.0f, a3 = 0.0f;

  void Set(double cutoff, double q, int sampleRate) {
    const double g = std::tan(kPi * std::min(cutoff, 0.45 * sampleRate) / sampleRate);
    const double k = 1.0 / q;
    const double d = 1.0 / (1.0 + g * (g + k));
    a1 = float(d);
    a2 = float(g * d);
    a3 = float(g * g * d);
  }
  float Process(float x) {
    const float v3 = x - ic2;
    const float v1 = a1 * ic1 + a2 * v3;
    const float v2 = ic2 + a2 * ic1 + a3 * v3;
    ic1 = 2.0f * v1 - ic1;
    ic2 = 2.0f * v2 - ic2;
    return v2;
  }
};

struct Note {
  double start, end;  // seconds; the release follows the end
  int midi;
  int voice;
};

// Joins repeated pitches of one part across chord changes into one note, so
// a voice that does not move simply sustains.
template <typename PitchOf>
std::vector<Note> TieNotes(const Score& score, int voices, PitchOf pitchOf) {
  std::vector<Note> notes;
  for (int v = 0; v < voices; ++v) {
    for (const ChordEvent& c : score.chords) {
      const int midi = pitchOf(c, v);
      if (!notes.empty() && notes.back().voice == v && notes.back().midi == midi &&
          std::fabs(notes.back().end - c.start) < 1e-9) {
        notes.back().end = c.start + c.length;
      } else {
        notes.push_back({c.start, c.start + c.length, midi, v});
      }
    }
  }
  return notes;
}

size_t ToFrame(double seconds, int sampleRate, size_t frames) {
  return std::min(frames, size_t(std::max(0.0, std::round(seconds * sampleRate))));
}

void RenderPad(const Score& score, StereoBuffer& mix) {
  constexpr double kAttack = 3.0, kRelease = 4.5;
  // Three saws per voice: detune in cents and pan, spread a little per voice.
  constexpr double kDetune[3] = {-9.0, 2.0, 11.0};
  constexpr float kPan[3] = {-0.7f, 0.05f, 0.7f};
  const int rate = mix.sampleRate;
  const size_t frames = mix.Frames();
  const auto notes = TieNotes(score, 4, [](const ChordEvent& c, int v) { return c.voices[size_t(v)]; });
  for (const Note& note : notes) {
    const size_t n0 = ToFrame(note.start, rate, frames);
    const size_t n1 = ToFrame(note.end + kRelease, rate, frames);
    const double base = MidiToHz(note.midi);
    PolyBlepSaw saws[3];
    float gainL[3], gainR[3];
    double detune[3], driftPhase[3];
    for (int k = 0; k < 3; ++k) {
      const uint32_t h = HashLattice(note.midi, note.voice * 3 + k, uint32_t(n0));
      saws[k].phase = HashUnit(h);
      detune[k] = kDetune[k] + 1.5 * double(note.voice - 1.5);
      driftPhase[k] = 2.0 * kPi * HashUnit(h * 0x9e3779b9u);
      const float pan = std::clamp(kPan[k] * (0.6f + 0.13f * float(note.voice)), -1.0f, 1.0f);
      PanGains(note.voice % 2 ? -pan : pan, gainL[k], gainR[k]);
    }
    const double noteEnd = note.end - note.start;
    for (size_t block = n0; block < n1; block += kControlBlock) {
      const double t = double(block - n0) / rate;
      for (int k = 0; k < 3; ++k) {
        // A slow, independent drift of a few cents per saw keeps the pad alive.
        const double cents = detune[k] + 3.0 * std::sin(2.0 * kPi * 0.071 * t + driftPhase[k]);
        saws[k].increment = base * std::pow(2.0, cents / 1200.0) / rate;
      }
      const size_t end = std::min(n1, block + kControlBlock);
      const double env0 = NoteEnvelope(t, noteEnd, kAttack, kRelease);
      const double env1 = NoteEnvelope(double(end - n0) / rate, noteEnd, kAttack, kRelease);
      for (size_t n = block; n < end; ++n) {
        const float env = float(0.12 * (env0 + (env1 - env0) * double(n - block) / kControlBlock));
        float l = 0.0f, r = 0.0f;
        for (int k = 0; k < 3; ++k) {
          const float s = saws[k].Next();
          l += gainL[k] * s;
          r += gainR[k] * s;
        }
        mix.left[n] += env * l;
        mix.right[n] += env * r;
      }
    }
  }
}

// The pad's filter sweep and level, applied to the mix while it holds only
// the pad: two cascaded low-passes (24 dB per octave) whose cutoff follows
// the score and a slow 41-second swing.
void ShapePad(const Score& score, StereoBuffer& mix) {
  const int rate = mix.sampleRate;
  SvfLowpass filters[2][2];
  for (size_t block = 0; block < mix.Frames(); block += kControlBlock) {
    const double t = double(block) / rate;
    const Dynamics d0 = score.DynamicsAt(t);
    const Dynamics d1 = score.DynamicsAt(t + double(kControlBlock) / rate);
    const double cutoff = d0.cutoff * (1.0 + 0.25 * std::sin(2.0 * kPi * t / 41.0));
    for (auto& channel : filters) {
      channel[0].Set(cutoff, 0.54, rate);
      channel[1].Set(cutoff, 1.3, rate);
    }
    const size_t end = std::min(mix.Frames(), block + kControlBlock);
    for (size_t n = block; n < end; ++n) {
      const float level = d0.pad + (d1.pad - d0.pad) * float(n - block) / kControlBlock;
      mix.left[n] = level * filters[0][1].Process(filters[0][0].Process(mix.left[n]));
      mix.right[n] = level * filters[1][1].Process(filters[1][0].Process(mix.right[n]));
    }
  }
}

void RenderBass(const Score& score, StereoBuffer& mix) {
  constexpr double kAttack = 2.5, kRelease = 3.5;
  const int rate = mix.sampleRate;
  const size_t frames = mix.Frames();
  const auto notes = TieNotes(score, 1, [](const ChordEvent& c, int) { return c.bass; });
  for (const Note& note : notes) {
    const size_t n0 = ToFrame(note.start, rate, frames);
    const size_t n1 = ToFrame(note.end + kRelease, rate, frames);
    const double w = 2.0 * kPi * MidiToHz(note.midi) / rate;
    const double cw = std::cos(w), sw = std::sin(w);
    double s = 0.0, c = 1.0;  // quadrature oscillator: sin and cos of the phase
    const double noteEnd = note.end - note.start;
    for (size_t block = n0; block < n1; block += kControlBlock) {
      const double t = double(block - n0) / rate;
      const double level = 0.34 * score.DynamicsAt(note.start + t).bass *
                           NoteEnvelope(t, noteEnd, kAttack, kRelease);
      const double norm = 1.0 / std::sqrt(s * s + c * c);  // keeps the rotation on the circle
      s *= norm;
      c *= norm;
      const size_t end = std::min(n1, block + kControlBlock);
      for (size_t n = block; n < end; ++n) {
        // Sine with a whisper of the second and third harmonics, so the
        // bass stays audible on small speakers.
        const double y = s + 0.12 * (2.0 * s * c) + 0.035 * (3.0 * s - 4.0 * s * s * s);
        const float v = float(level * y);
        mix.left[n] += v;
        mix.right[n] += v;
        const double ns = s * cw + c * sw;
        c = c * cw - s * sw;
        s = ns;
      }
    }
  }
}

StereoBuffer RenderBells(const Score& score, int rate, size_t frames) {
  constexpr double kLength = 9.0, kTail = 1.5, kDecay = 1.8;
  StereoBuffer bells;
  bells.sampleRate = rate;
  bells.left.assign(frames, 0.0f);
  bells.right.assign(frames, 0.0f);
  for (const BellNote& b : score.bells) {
    const size_t n0 = ToFrame(b.time, rate, frames);
    const size_t n1 = ToFrame(b.time + kLength, rate, frames);
    const double carrier = 2.0 * kPi * MidiToHz(b.midi) / rate;
    const double modulator = 1.4 * carrier;
    float gl, gr;
    PanGains(b.pan, gl, gr);
    const double level = 0.16 * b.velocity * score.DynamicsAt(b.time).bells;
    for (size_t n = n0; n < n1; ++n) {
      const double t = double(n - n0) / rate;
      const double index = 2.2 * std::exp(-t / 1.1) + 0.35;
      double amp = std::exp(-t / kDecay) * (1.0 - std::exp(-t / 0.004));
      if (t > kLength - kTail) amp *= 0.5 + 0.5 * std::cos(kPi * (t - (kLength - kTail)) / kTail);
      const double phase = carrier * double(n - n0);
      const double y = std::sin(phase + index * std::sin(modulator * double(n - n0)));
      const float v = float(level * amp * y);
      bells.left[n] += gl * v;
      bells.right[n] += gr * v;
    }
  }
  return bells;
}

// Ping-pong delay: echoes alternate left and right, each darker and softer.
void PingPong(StereoBuffer& bus, double seconds, float feedback, float wet) {
  const size_t length = size_t(seconds * bus.sampleRate);
  std::vector<float> lineL(length, 0.0f), lineR(length, 0.0f);
  float tone = 0.0f;
  const float toneCoeff = float(std::exp(-2.0 * kPi * 3200.0 / bus.sampleRate));
  size_t i = 0;
  for (size_t n = 0; n < bus.Frames(); ++n) {
    const float echoL = lineL[i], echoR = lineR[i];
    tone = echoR + (tone - echoR) * toneCoeff;
    lineL[i] = 0.5f * (bus.left[n] + bus.right[n]) + feedback * tone;
    lineR[i] = echoL;
    bus.left[n] += wet * echoL;
    bus.right[n] += wet * echoR;
    if (++i == length) i = 0;
  }
}

// The whole mix's envelope and a DC block (one-pole high-pass at 10 Hz).
void FinishMix(const Score& score, StereoBuffer& mix) {
  const int rate = mix.sampleRate;
  const float pole = float(1.0 - 2.0 * kPi * 10.0 / rate);
  float xl = 0.0f, yl = 0.0f, xr = 0.0f, yr = 0.0f;
  const double fadeOut = score.silenceAt - score.fadeOutStart;
  for (size_t n = 0; n < mix.Frames(); ++n) {
    const double t = double(n) / rate;
    double gain = 1.0;
    if (t < score.fadeInEnd) gain = std::pow(std::sin(0.5 * kPi * t / score.fadeInEnd), 2.0);
    if (t > score.fadeOutStart)
      gain = t >= score.silenceAt ? 0.0 : std::pow(std::cos(0.5 * kPi * (t - score.fadeOutStart) / fadeOut), 2.0);
    yl = mix.left[n] - xl + pole * yl;
    xl = mix.left[n];
    yr = mix.right[n] - xr + pole * yr;
    xr = mix.right[n];
    mix.left[n] = float(gain) * yl;
    mix.right[n] = float(gain) * yr;
  }
}

// Recursive filters decaying towards silence would otherwise crawl through
// denormal numbers; flush them to zero while rendering.
class FlushDenormals {
 public:
#if defined(__SSE__)
  FlushDenormals() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | 0x8040); }
  ~FlushDenormals() { _mm_setcsr(saved_); }

 private:
  unsigned saved_;
#endif
};

}  // namespace

Freeverb::Freeverb(float roomSize, float damping, float width) {
  constexpr size_t kComb[8] = {1116, 1188, 1277, 1356, 1422, 1491, 1557, 1617};
  constexpr size_t kAllpass[4] = {556, 441, 341, 225};
  constexpr size_t kStereoSpread = 23;
  for (size_t i = 0; i < 8; ++i) {
    combL_[i].buffer.assign(kComb[i], 0.0f);
    combR_[i].buffer.assign(kComb[i] + kStereoSpread, 0.0f);
  }
  for (size_t i = 0; i < 4; ++i) {
    allpassL_[i].buffer.assign(kAllpass[i], 0.0f);
    allpassR_[i].buffer.assign(kAllpass[i] + kStereoSpread, 0.0f);
  }
  feedback_ = roomSize * 0.28f + 0.7f;
  damp1_ = damping * 0.4f;
  damp2_ = 1.0f - damp1_;
  wet1_ = width * 0.5f + 0.5f;
  wet2_ = (1.0f - width) * 0.5f;
}

void Freeverb::Process(float inLeft, float inRight, float& outLeft, float& outRight) {
  const float input = (inLeft + inRight) * 0.015f;
  float l = 0.0f, r = 0.0f;
  auto comb = [this](Comb& c, float x) {
    const float out = c.buffer[c.index];
    c.store = out * damp2_ + c.store * damp1_;
    c.buffer[c.index] = x + c.store * feedback_;
    if (++c.index == c.buffer.size()) c.index = 0;
    return out;
  };
  auto allpass = [](Allpass& a, float x) {
    const float delayed = a.buffer[a.index];
    a.buffer[a.index] = x + delayed * 0.5f;
    if (++a.index == a.buffer.size()) a.index = 0;
    return delayed - x;
  };
  for (size_t i = 0; i < 8; ++i) {
    l += comb(combL_[i], input);
    r += comb(combR_[i], input);
  }
  for (size_t i = 0; i < 4; ++i) {
    l = allpass(allpassL_[i], l);
    r = allpass(allpassR_[i], r);
  }
  outLeft = l * wet1_ + r * wet2_;
  outRight = r * wet1_ + l * wet2_;
}

StereoBuffer RenderScore(const Score& score, int sampleRate) {
  FlushDenormals flush;
  StereoBuffer mix;
  mix.sampleRate = sampleRate;
  const size_t frames = size_t(std::llround(score.length * sampleRate));
  mix.left.assign(frames, 0.0f);
  mix.right.assign(frames, 0.0f);

  RenderPad(score, mix);
  ShapePad(score, mix);
  std::vector<float> send(frames);
  for (size_t n = 0; n < frames; ++n) send[n] = 0.55f * (mix.left[n] + mix.right[n]);
  {
    StereoBuffer bells = RenderBells(score, sampleRate, frames);
    PingPong(bells, 0.62, 0.42f, 0.55f);
    for (size_t n = 0; n < frames; ++n) {
      send[n] += 0.9f * (bells.left[n] + bells.right[n]);
      mix.left[n] += bells.left[n];
      mix.right[n] += bells.right[n];
    }
  }
  RenderBass(score, mix);
  Freeverb reverb(0.86f, 0.45f, 1.0f);
  for (size_t n = 0; n < frames; ++n) {
    float l, r;
    reverb.Process(send[n], 0.0f, l, r);
    mix.left[n] += 0.9f * l;
    mix.right[n] += 0.9f * r;
  }
  FinishMix(score, mix);
  return mix;
}

}  // namespace sorvane::assetgen
