// The synthesiser: renders a Score (score/score.h) into a stereo float mix.
//
// RenderScore plays every part of the score at the given sample rate: a
// warm pad of detuned band-limited (PolyBLEP) saws under a slowly moving
// low-pass filter, a soft sine bass, FM bells (carrier : modulator 1 : 1.4)
// through a ping-pong delay, and a Freeverb-style reverb behind pad and
// bells. The mix includes the score's fade in and fade out and a DC block;
// it is not yet normalised for loudness (master.h does that). The output is
// score.length seconds long, planar (one vector per channel), and the same
// score always gives the same samples. Memory: about 20 bytes per frame
// while rendering (a stereo mix, a stereo bell bus and a mono reverb send).
// Never fails except by std::bad_alloc.
//
// Freeverb is the reverb on its own, for tests and reuse: eight parallel
// damped combs and four series allpasses per channel, tuned for 44.1 kHz,
// the right channel's delays 23 samples longer than the left's.
#pragma once

#include <array>
#include <cstddef>
#include <vector>

#include "score/score.h"

namespace sorvane::assetgen {

struct StereoBuffer {
  int sampleRate = 44100;
  std::vector<float> left, right;
  size_t Frames() const { return left.size(); }
};

StereoBuffer RenderScore(const score::Score& score, int sampleRate);

class Freeverb {
 public:
  // roomSize and damping in [0, 1]; width in [0, 1] (0 mono, 1 full stereo).
  Freeverb(float roomSize, float damping, float width);
  // One frame: the input channels are summed; returns the wet signal only.
  void Process(float inLeft, float inRight, float& outLeft, float& outRight);

 private:
  struct Comb {
    std::vector<float> buffer;
    size_t index = 0;
    float store = 0.0f;
  };
  struct Allpass {
    std::vector<float> buffer;
    size_t index = 0;
  };
  std::array<Comb, 8> combL_, combR_;
  std::array<Allpass, 4> allpassL_, allpassR_;
  float feedback_, damp1_, damp2_, wet1_, wet2_;
};

}  // namespace sorvane::assetgen
