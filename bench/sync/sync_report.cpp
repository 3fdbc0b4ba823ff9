// How closely the picture follows the music: renders the whole piece off
// screen at 160 × 80, ten frames a second, decodes the track and prints
//   - the correlation between each second's mean picture brightness and the
//     music's short-term loudness (3 s window centred on that second), over
//     5 s to 269 s; goal >= 0.7;
//   - the share of bell onsets followed within 300 ms by a frame-to-frame
//     change of at least twice the piece's median change; goal >= 90 %;
//   - each section's mean colour and the smallest mean absolute difference
//     between the middle frames of any two sections; goal >= 0.06.
// With --baseline DIR it renders the piece a second time with the shaders
// in DIR (abs/mask .vert/.frag, the images from the run folder) and prints
// those figures beside. Bells and sections come from the score itself.
//
//   sync_report [--baseline SHADER_DIR] [RUNDIR]
//
// Needs a display (xvfb-run). Exit status 0 when every goal is met, 1 when
// one is missed, 2 for a bad command line or a missing file.
#include <ebur128.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "data/files.h"
#include "effects/frame_renderer.h"
#include "platform/audio/ogg_stream.h"
#include "score/score.h"
#include "measure/workbench.h"

namespace fs = std::filesystem;
using sorvane::score::Score;

namespace {

constexpr int kWidth = 160, kHeight = 80;
constexpr double kFps = 10.0;
// Between the fade-in and the fade-out.
const double kFrom = sorvane::score::ThePiece().fadeInEnd, kTo = sorvane::score::ThePiece().fadeOutStart;
constexpr double kBellWindow = 0.3;
constexpr double kCorrelationGoal = 0.7, kBellGoal = 0.9, kSectionGoal = 0.06;

struct Figures {
  double correlation = 0;
  int bellsAnswered = 0, bells = 0;
  std::vector<std::array<double, 3>> sectionColour;  // mean R, G, B in 0..1
  double smallestSectionDifference = 0;
  int closestA = 0, closestB = 0;
};

// 0..1; 0 for frames that cannot be compared (one never rendered).
double MeanAbsDifference(const CaptureFrame& a, const CaptureFrame& b) {
  if (a.rgb.empty() || a.rgb.size() != b.rgb.size()) return 0.0;
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) sum += std::abs(int(a.rgb[i]) - int(b.rgb[i]));
  return sum / (255.0 * double(a.rgb.size()));
}

double Luma(const CaptureFrame& f) {
  double r = 0, g = 0, b = 0;
  for (size_t i = 0; i < f.rgb.size(); i += 3) r += f.rgb[i], g += f.rgb[i + 1], b += f.rgb[i + 2];
  return (0.2126 * r + 0.7152 * g + 0.0722 * b) / (255.0 * double(f.rgb.size() / 3));
}

double Pearson(const std::vector<double>& x, const std::vector<double>& y) {
  const double n = double(x.size());
  double mx = 0, my = 0;
  for (size_t i = 0; i < x.size(); ++i) mx += x[i] / n, my += y[i] / n;
  double sxy = 0, sxx = 0, syy = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    sxy += (x[i] - mx) * (y[i] - my);
    sxx += (x[i] - mx) * (x[i] - mx);
    syy += (y[i] - my) * (y[i] - my);
  }
  return sxx > 0 && syy > 0 ? sxy / std::sqrt(sxx * syy) : 0.0;
}

// Short-term loudness (LUFS, 3 s window) at the end of every 1/kFps step of
// the track, the first after one step; empty if the track cannot be decoded.
std::vector<double> ShortTermLoudness(const std::string& path) {
  platform::OggStream stream;
  if (!stream.Open(path.c_str())) return {};
  std::unique_ptr<ebur128_state, void (*)(ebur128_state*)> meter(
      ebur128_init(unsigned(stream.Channels()), unsigned(stream.Rate()), EBUR128_MODE_S),
      [](ebur128_state* s) { ebur128_destroy(&s); });
  if (!meter) return {};
  const size_t step = size_t(std::lround(stream.Rate() / kFps));
  std::vector<int16_t> pcm(step * size_t(stream.Channels()));
  std::vector<double> loudness;
  for (;;) {
    size_t got = 0;
    while (got < step) {
      const size_t n = stream.Read(pcm.data() + got * size_t(stream.Channels()), step - got);
      if (n == 0) break;
      got += n;
    }
    if (got < step) break;
    ebur128_add_frames_short(meter.get(), pcm.data(), got);
    double lufs = -HUGE_VAL;
    ebur128_loudness_shortterm(meter.get(), &lufs);
    loudness.push_back(lufs);
  }
  return loudness;
}

// Renders the piece in `dir` and measures it against the score and the
// loudness curve.
bool Measure(const fs::path& dir, const Score& score, const std::vector<double>& loudness, Figures& out) {
  fs::current_path(dir);
  FrameRenderer renderer;
  if (!renderer.Open(kWidth, kHeight, false)) {
    std::fprintf(stderr, "sync_report: %s\n", renderer.error().c_str());
    return false;
  }
  const size_t sections = score.sections.size();
  auto sectionEnd = [&](size_t s) { return s + 1 < sections ? score.sections[s + 1].start : score.length; };
  const long frames = long(std::floor(score.length * kFps)) + 1;
  std::vector<double> luma(size_t(frames), 0.0), change(size_t(frames), 0.0);
  std::vector<CaptureFrame> middle(sections);
  std::vector<std::array<double, 3>> colourSum(sections, {0, 0, 0});
  std::vector<long> colourCount(sections, 0);
  CaptureFrame previous, frame;
  for (long i = 0; i < frames; ++i) {
    const double time = double(i) / kFps;
    renderer.Render(time, frame);
    luma[size_t(i)] = Luma(frame);
    if (i > 0) change[size_t(i)] = MeanAbsDifference(frame, previous);
    for (size_t s = 0; s < sections; ++s) {
      if (time < score.sections[s].start || time >= sectionEnd(s)) continue;
      for (size_t p = 0; p < frame.rgb.size(); p += 3)
        for (int c = 0; c < 3; ++c) colourSum[s][size_t(c)] += frame.rgb[p + size_t(c)] / 255.0;
      colourCount[s] += long(frame.rgb.size() / 3);
      const double mid = 0.5 * (score.sections[s].start + sectionEnd(s));
      if (std::lround(mid * kFps) == i) middle[s] = frame;
    }
    std::swap(previous, frame);
    if (i % 500 == 0) std::fprintf(stderr, "  %s: %.0f s\n", dir.filename().c_str(), time);
  }

  // Brightness per second against the loudness of the window centred on it.
  std::vector<double> brightness, music;
  for (int second = int(kFrom); second < int(kTo); ++second) {
    double sum = 0;
    for (int k = 0; k < int(kFps); ++k) sum += luma[size_t(second * int(kFps) + k)];
    // loudness[j] is the window that ends after the track's first j + 1
    // steps; this one is [second - 1, second + 2].
    const size_t centre = size_t((second + 2) * int(kFps)) - 1;
    if (centre >= loudness.size() || !std::isfinite(loudness[centre])) continue;
    brightness.push_back(sum / kFps);
    music.push_back(loudness[centre]);
  }
  out.correlation = Pearson(brightness, music);

  std::vector<double> changes(change.begin() + long(kFrom * kFps), change.begin() + long(kTo * kFps));
  std::nth_element(changes.begin(), changes.begin() + long(changes.size() / 2), changes.end());
  const double median = changes[changes.size() / 2];
  out.bells = int(score.bells.size());
  out.bellsAnswered = 0;
  for (const auto& bell : score.bells) {
    bool answered = false;
    // From the frame at the onset (a frame within 1 ms before it counts: the
    // shaders' single-precision clock cannot tell them apart).
    for (long i = long(std::ceil((bell.time - 0.001) * kFps)); i < frames && double(i) / kFps <= bell.time + kBellWindow;
         ++i)
      answered = answered || (i > 0 && change[size_t(i)] >= 2.0 * median);
    out.bellsAnswered += answered;
  }

  out.sectionColour.clear();
  for (size_t s = 0; s < sections; ++s)
    out.sectionColour.push_back({colourSum[s][0] / double(colourCount[s]), colourSum[s][1] / double(colourCount[s]),
                                 colourSum[s][2] / double(colourCount[s])});
  out.smallestSectionDifference = HUGE_VAL;
  for (size_t a = 0; a < sections; ++a)
    for (size_t b = a + 1; b < sections; ++b) {
      const double d = MeanAbsDifference(middle[a], middle[b]);
      if (d < out.smallestSectionDifference) out.smallestSectionDifference = d, out.closestA = int(a), out.closestB = int(b);
    }
  return true;
}

// The run folder's images with another set of shaders, in a folder of its own.
void AssembleBaseline(const fs::path& runDir, const fs::path& shaderDir, const TempDir& into) {
  for (const auto& e : fs::directory_iterator(runDir))
    if (e.path().extension() == ".jpg") fs::copy_file(e.path(), into / e.path().filename().string());
  for (const std::string& name : {datafiles::VertexShader(datafiles::kAbs), datafiles::FragmentShader(datafiles::kAbs),
                                  datafiles::VertexShader(datafiles::kMask), datafiles::FragmentShader(datafiles::kMask)})
    fs::copy_file(shaderDir / name, into / name);
}

int Usage(const char* problem) {
  std::fprintf(stderr, "sync_report: %s\nusage: sync_report [--baseline SHADER_DIR] [RUNDIR]\n", problem);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  fs::path runDir = ".", baselineShaders;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--baseline" && i + 1 < argc) {
      baselineShaders = fs::absolute(argv[++i]);
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(("unknown or incomplete option " + arg).c_str());
    } else {
      runDir = arg;
    }
  }
  runDir = fs::absolute(runDir);
  const fs::path track = runDir / datafiles::kMusic;
  if (!fs::is_regular_file(track)) return Usage(("no track in " + runDir.string()).c_str());
  if (!baselineShaders.empty() && !fs::is_regular_file(baselineShaders / "abs.frag"))
    return Usage(("no abs.frag in " + baselineShaders.string()).c_str());

  const Score& score = sorvane::score::ThePiece();
  const std::vector<double> loudness = ShortTermLoudness(track.string());
  if (loudness.empty()) return Usage(("cannot decode " + track.string()).c_str());

  Figures now, before;
  if (!Measure(runDir, score, loudness, now)) return 2;
  const bool compare = !baselineShaders.empty();
  TempDir baselineDir;
  if (compare) {
    AssembleBaseline(runDir, baselineShaders, baselineDir);
    if (!Measure(baselineDir.path(), score, loudness, before)) return 2;
  }

  auto column = [&](const char* format, double a, double b) {
    std::printf(format, a);
    if (compare) std::printf(format, b);
  };
  std::printf("%-58s %12s%s\n", "", "now", compare ? "       before" : "");
  std::printf("%-58s", "brightness ~ short-term loudness, 5-269 s (goal >= 0.70)");
  column(" %12.3f", now.correlation, before.correlation);
  std::printf("\n%-58s", "bell onsets answered within 300 ms, % (goal >= 90)");
  column(" %12.1f", 100.0 * now.bellsAnswered / std::max(now.bells, 1),
         100.0 * before.bellsAnswered / std::max(before.bells, 1));
  std::printf("   of %d bells\n%-58s", now.bells, "smallest section-to-section middle-frame difference (>= 0.06)");
  column(" %12.3f", now.smallestSectionDifference, before.smallestSectionDifference);
  std::printf("   %s / %s\n", std::string(score.sections[size_t(now.closestA)].name).c_str(),
              std::string(score.sections[size_t(now.closestB)].name).c_str());
  std::printf("mean colour (R G B) of each section:\n");
  for (size_t s = 0; s < score.sections.size(); ++s) {
    const auto& c = now.sectionColour[s];
    std::printf("  %5.0f s %-14s %.3f %.3f %.3f", score.sections[s].start, std::string(score.sections[s].name).c_str(),
                c[0], c[1], c[2]);
    if (compare)
      std::printf("      before %.3f %.3f %.3f", before.sectionColour[s][0], before.sectionColour[s][1],
                  before.sectionColour[s][2]);
    std::printf("\n");
  }
  const bool met = now.correlation >= kCorrelationGoal && now.bellsAnswered >= kBellGoal * now.bells &&
                   now.smallestSectionDifference >= kSectionGoal;
  std::printf("goals: %s\n", met ? "met" : "MISSED");
  return met ? 0 : 1;
}
