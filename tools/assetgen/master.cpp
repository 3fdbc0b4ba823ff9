#include "tools/assetgen/master.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <deque>
#include <memory>
#include <stdexcept>

#include <ebur128.h>

namespace sorvane::assetgen {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr int kPhases = 4;
constexpr int kTaps = 16;  // per phase
constexpr int kDetectorDelay = kTaps / 2;

// Polyphase 4x interpolator: Kaiser-windowed sinc, each phase normalised to
// unit gain at DC. phase[k][p] multiplies x[n - k] for sub-sample p.
struct Interpolator {
  alignas(16) std::array<std::array<float, kPhases>, kTaps> phase{};
  Interpolator() {
    constexpr int length = kTaps * kPhases;
    constexpr double centre = (length - 1) / 2.0, beta = 7.0;
    auto bessel0 = [](double x) {
      double sum = 1.0, term = 1.0;
      for (int k = 1; k < 30; ++k) {
        term *= (x / (2.0 * k)) * (x / (2.0 * k));
        sum += term;
      }
      return sum;
    };
    double sums[kPhases] = {};
    for (int i = 0; i < length; ++i) {
      const double t = (i - centre) / kPhases;
      const double sinc = t == 0.0 ? 1.0 : std::sin(kPi * t) / (kPi * t);
      const double r = (i - centre) / centre;
      const double window = bessel0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / bessel0(beta);
      phase[size_t(i / kPhases)][size_t(i % kPhases)] = float(sinc * window);
      sums[i % kPhases] += sinc * window;
    }
    for (auto& taps : phase)
      for (int p = 0; p < kPhases; ++p) taps[size_t(p)] = float(taps[size_t(p)] / sums[p]);
  }
};
const Interpolator kInterpolator;

// Largest absolute value among the four interpolated points that follow
// x[n - kDetectorDelay] (x read as zero before the start).
inline float OversampledPeak(const float* x, size_t n) {
  std::array<float, kPhases> acc{};
  const size_t count = std::min<size_t>(kTaps, n + 1);
  for (size_t k = 0; k < count; ++k) {
    const float s = x[n - k];
    for (int p = 0; p < kPhases; ++p) acc[size_t(p)] += kInterpolator.phase[k][size_t(p)] * s;
  }
  float peak = 0.0f;
  for (float a : acc) peak = std::max(peak, std::fabs(a));
  return peak;
}

// Per-frame peak of both channels: the sample itself and the inter-sample
// points around it.
std::vector<float> PeakEnvelope(const StereoBuffer& mix) {
  const size_t frames = mix.Frames();
  std::vector<float> peak(frames, 0.0f);
  for (size_t n = 0; n < frames; ++n)
    peak[n] = std::max(std::fabs(mix.left[n]), std::fabs(mix.right[n]));
  for (size_t n = 0; n < frames + kDetectorDelay; ++n) {
    float p;
    if (n < frames) {
      p = std::max(OversampledPeak(mix.left.data(), n), OversampledPeak(mix.right.data(), n));
    } else {
      // The filter's tail past the last sample, read against zeros.
      std::array<float, kTaps> tl{}, tr{};
      for (size_t k = 0; k < kTaps; ++k)
        if (n >= k && n - k < frames) tl[k] = mix.left[n - k], tr[k] = mix.right[n - k];
      float l = 0.0f, r = 0.0f;
      for (int ph = 0; ph < kPhases; ++ph) {
        float al = 0.0f, ar = 0.0f;
        for (size_t k = 0; k < kTaps; ++k) {
          al += kInterpolator.phase[k][size_t(ph)] * tl[k];
          ar += kInterpolator.phase[k][size_t(ph)] * tr[k];
        }
        l = std::max(l, std::fabs(al));
        r = std::max(r, std::fabs(ar));
      }
      p = std::max(l, r);
    }
    if (n >= kDetectorDelay) {
      float& slot = peak[n - kDetectorDelay];
      slot = std::max(slot, p);
    }
  }
  return peak;
}

// Gain per frame that keeps gain * peak under the ceiling: the required
// gain is held over a window, recovers with a release time constant and is
// then averaged over the same window, so the gain is smooth and has fully
// arrived when the peak comes (the window acts as look-ahead).
std::vector<float> LimiterGain(const std::vector<float>& peak, double gain, double ceiling,
                               int sampleRate) {
  const size_t window = size_t(0.0015 * sampleRate);
  const double release = 1.0 - std::exp(-1.0 / (0.25 * sampleRate));
  const size_t frames = peak.size();
  std::vector<float> out(frames, 1.0f);
  std::deque<std::pair<size_t, double>> hold;  // increasing required gains
  std::vector<double> recent(window, 1.0);
  double smooth = 1.0, sum = double(window);
  for (size_t n = 0; n < frames + window - 1; ++n) {
    const double p = n < frames ? double(peak[n]) * gain : 0.0;
    const double required = p > ceiling ? ceiling / p : 1.0;
    while (!hold.empty() && hold.back().second >= required) hold.pop_back();
    hold.emplace_back(n, required);
    while (hold.front().first + window <= n) hold.pop_front();
    smooth = std::min(hold.front().second, smooth + (1.0 - smooth) * release);
    sum += smooth - recent[n % window];
    recent[n % window] = smooth;
    if (n + 1 >= window) out[n + 1 - window] = float(std::min(1.0, sum / double(window)));
  }
  return out;
}

struct LoudnessMeter {
  std::unique_ptr<ebur128_state, void (*)(ebur128_state*)> state;

  LoudnessMeter(int sampleRate, int mode)
      : state(ebur128_init(2, unsigned(sampleRate), mode), [](ebur128_state* s) {
          if (s) ebur128_destroy(&s);
        }) {
    if (!state) throw std::runtime_error("loudness meter cannot be set up for this sample rate");
  }
};

// Loudness of mix * gain * curve[n] (curve may be empty: unity).
LoudnessFigures Measure(const StereoBuffer& mix, double gain, const std::vector<float>& curve,
                        bool withRange) {
  LoudnessMeter meter(mix.sampleRate, EBUR128_MODE_I | (withRange ? EBUR128_MODE_LRA : 0));
  constexpr size_t kChunk = 8192;
  std::vector<float> interleaved(kChunk * 2);
  for (size_t start = 0; start < mix.Frames(); start += kChunk) {
    const size_t count = std::min(kChunk, mix.Frames() - start);
    for (size_t i = 0; i < count; ++i) {
      const float g = float(gain) * (curve.empty() ? 1.0f : curve[start + i]);
      interleaved[2 * i] = mix.left[start + i] * g;
      interleaved[2 * i + 1] = mix.right[start + i] * g;
    }
    if (ebur128_add_frames_float(meter.state.get(), interleaved.data(), count) != EBUR128_SUCCESS)
      throw std::runtime_error("loudness meter rejected the samples");
  }
  LoudnessFigures f;
  ebur128_loudness_global(meter.state.get(), &f.integratedLufs);
  if (withRange) ebur128_loudness_range(meter.state.get(), &f.rangeLu);
  return f;
}

double ToDb(double linear) { return linear > 0.0 ? 20.0 * std::log10(linear) : -HUGE_VAL; }

}  // namespace

double TruePeak(const StereoBuffer& mix) {
  const std::vector<float> peak = PeakEnvelope(mix);
  return peak.empty() ? 0.0 : double(*std::max_element(peak.begin(), peak.end()));
}

LoudnessFigures MeasureLoudness(const StereoBuffer& mix) {
  LoudnessFigures f = Measure(mix, 1.0, {}, true);
  f.truePeakDbtp = ToDb(TruePeak(mix));
  return f;
}

LoudnessFigures MasterToTarget(StereoBuffer& mix, const MasterTarget& target) {
  const LoudnessFigures before = Measure(mix, 1.0, {}, false);
  if (!std::isfinite(before.integratedLufs)) return MeasureLoudness(mix);  // silence
  const std::vector<float> peak = PeakEnvelope(mix);
  const double ceiling = std::pow(10.0, target.ceilingDbtp / 20.0);
  double gain = std::pow(10.0, (target.integratedLufs - before.integratedLufs) / 20.0);
  std::vector<float> curve;
  // Limiting lowers the loudness a little; correct the gain and limit again
  // until the target holds.
  for (int round = 0;; ++round) {
    curve = LimiterGain(peak, gain, ceiling, mix.sampleRate);
    if (round == 3) break;
    const double lufs = Measure(mix, gain, curve, false).integratedLufs;
    if (std::fabs(lufs - target.integratedLufs) < 0.02) break;
    gain *= std::pow(10.0, (target.integratedLufs - lufs) / 20.0);
  }
  for (size_t n = 0; n < mix.Frames(); ++n) {
    const float g = float(gain) * curve[n];
    mix.left[n] *= g;
    mix.right[n] *= g;
  }
  return MeasureLoudness(mix);
}

}  // namespace sorvane::assetgen
