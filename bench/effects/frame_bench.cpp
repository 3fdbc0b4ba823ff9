// What the two layers cost: milliseconds per frame rendered off screen at
// 1280 × 640 and 1920 × 960, in one run, for the full frame and two floors
// drawn with the same strips, textures, blending and read-back:
//   one-texture floor: each strip samples a single texture;
//   fetch floor: each strip makes its program's texture reads (four for the
//     relief, three for the veil, seven a pixel) with no shading maths.
// Goal: full ≤ 1.25 × the fetch floor at both sizes (the per-time work of the
// shaders belongs to the four vertices, not to every pixel). Prints the
// ratios and ends with status 1 when a size misses the goal. Each figure is
// the best of three rounds that take turns, so a busy machine slows all
// three alike rather than one. Run under a display; the run folder is the
// argument (default: the current folder).
#include <GL/glew.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "tests/support/support.h"
#include "tools/capture/capture.h"

namespace fs = std::filesystem;

namespace {

constexpr double kGoal = 1.25;

struct Cost {
  double wallMs = HUGE_VAL;  // per frame
  double cpuMs = HUGE_VAL;   // per frame, all of the process's threads (the rasteriser's too)
};

double CpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return double(now.tv_sec) * 1e3 + double(now.tv_nsec) * 1e-6;
}

Cost MsPerFrame(int width, int height, int frames) {
  FrameRenderer renderer;
  if (!renderer.Open(width, height, false)) {
    std::fprintf(stderr, "frame_bench: %s\n", renderer.error().c_str());
    std::exit(1);
  }
  CaptureFrame frame;
  renderer.Render(100.0, frame);  // warm up: shader compilation, uploads
  const auto start = std::chrono::steady_clock::now();
  const double cpuStart = CpuMs();
  for (int i = 0; i < frames; ++i) renderer.Render(100.0 + i / 60.0, frame);
  Cost cost;
  cost.cpuMs = (CpuMs() - cpuStart) / frames;
  cost.wallMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / frames;
  return cost;
}

void KeepBest(Cost& best, const Cost& c) {
  best.wallMs = std::min(best.wallMs, c.wallMs);
  best.cpuMs = std::min(best.cpuMs, c.cpuMs);
}

// A folder with the run folder's images and stand-in shaders whose fragment
// programs sum `reads` texture reads (relief first, veil second).
void MakeFloor(const fs::path& runDir, const TempDir& floor, int absReads, int maskReads) {
  for (const auto& e : fs::directory_iterator(runDir))
    if (e.path().extension() == ".jpg") fs::copy_file(e.path(), floor / e.path().filename().string());
  const std::string vert =
      "#version 120\nvarying vec2 uv;\n"
      "void main() { uv = gl_MultiTexCoord0.xy; gl_Position = ftransform(); }\n";
  auto frag = [](int reads) {
    std::string declarations, sum;
    for (int i = 0; i < reads; ++i) {
      declarations += "uniform sampler2D u" + std::to_string(i) + ";\n";
      sum += std::string(i ? " + " : "") + "texture2D(u" + std::to_string(i) + ", uv)";
    }
    return "#version 120\n" + declarations + "varying vec2 uv;\nvoid main() { gl_FragColor = " + sum + "; }\n";
  };
  WriteFile(floor / "abs.vert", vert);
  WriteFile(floor / "mask.vert", vert);
  WriteFile(floor / "abs.frag", frag(absReads));
  WriteFile(floor / "mask.frag", frag(maskReads));
}

}  // namespace

int main(int argc, char** argv) {
  // Absolute, since the loop below moves between the folders.
  const fs::path runDir = fs::absolute(argc > 1 ? argv[1] : ".");
  if (!fs::is_regular_file(runDir / "311_18.jpg")) {
    std::fprintf(stderr, "usage: frame_bench [RUNDIR]  (the folder holding the demo's data; %s has none)\n",
                 runDir.c_str());
    return 2;
  }
  TempDir single, fetch;
  MakeFloor(runDir, single, 1, 1);
  MakeFloor(runDir, fetch, 4, 3);

  std::printf("%-10s %9s %13s %9s %11s %11s   %s\n", "size", "full ms", "1-texture ms", "fetch ms", "full/1-tex",
              "full/fetch", "(CPU ms: full, fetch, full/fetch)");
  const int sizes[][2] = {{1280, 640}, {1920, 960}};
  bool met = true;
  for (auto [w, h] : sizes) {
    Cost full, one, floor;
    for (int round = 0; round < 3; ++round) {
      fs::current_path(runDir);
      KeepBest(full, MsPerFrame(w, h, 20));
      fs::current_path(single.path());
      KeepBest(one, MsPerFrame(w, h, 20));
      fs::current_path(fetch.path());
      KeepBest(floor, MsPerFrame(w, h, 20));
    }
    std::printf("%4dx%-5d %9.2f %13.2f %9.2f %11.2f %11.2f   (%.1f, %.1f, %.2f)\n", w, h, full.wallMs, one.wallMs,
                floor.wallMs, full.wallMs / one.wallMs, full.wallMs / floor.wallMs, full.cpuMs, floor.cpuMs,
                full.cpuMs / floor.cpuMs);
    met = met && full.wallMs <= kGoal * floor.wallMs;
  }
  std::printf("goal: full <= %.2f x fetch floor at both sizes: %s\n", kGoal, met ? "met" : "MISSED");
  return met ? 0 : 1;
}
