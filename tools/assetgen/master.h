// Mastering: loudness to a target, then a true-peak limiter.
//
// MasterToTarget measures the integrated loudness of a mix (ITU-R BS.1770
// via libebur128), applies the gain that brings it to the target, and limits
// so that the inter-sample peaks stay under the ceiling: peaks are detected
// on a 4x oversampled signal, the gain reduction looks ahead, rises within
// 1.5 ms and recovers smoothly. Loudness is re-measured after limiting and
// the gain corrected, so the result sits on the target. It works in place
// and returns the measured figures. Throws std::runtime_error if libebur128
// refuses the buffer (for instance a sample rate it does not support); a
// silent mix is left unchanged.
//
// TruePeak returns the largest oversampled absolute sample of a mix (linear
// scale) with the same detector as the limiter; MeasureLoudness runs the
// BS.1770 measurement alone.
#pragma once

#include "tools/assetgen/synth.h"

namespace sorvane::assetgen {

struct LoudnessFigures {
  double integratedLufs = 0.0;
  double rangeLu = 0.0;
  double truePeakDbtp = 0.0;
};

struct MasterTarget {
  double integratedLufs = -16.0;
  double ceilingDbtp = -1.5;
};

LoudnessFigures MeasureLoudness(const StereoBuffer& mix);
double TruePeak(const StereoBuffer& mix);
LoudnessFigures MasterToTarget(StereoBuffer& mix, const MasterTarget& target);

}  // namespace sorvane::assetgen
