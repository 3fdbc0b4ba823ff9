// What the two layers cost: milliseconds per frame rendered off screen at
// 1280 × 640 and 1920 × 960, in one run, for the full frame and two floors
// drawn with the same strips, textures, blending and read-back:
//   one-texture floor: each strip samples a single texture;
//   fetch floor: each strip makes its program's texture reads (four for the
//     relief, three for the veil, seven a pixel) with no shading maths.
// Goal: full ≤ 1.25 × the fetch floor at both sizes (the per-time work of the
// shaders belongs to the four vertices, not to every pixel). Prints the
// ratios and ends with status 1 when a size misses the goal. Run under a
// display; the run folder is the argument (default: the current folder).
#include <GL/glew.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/support.h"
#include "tools/capture/capture.h"

namespace fs = std::filesystem;

namespace {

constexpr double kGoal = 1.25;

double MsPerFrame(int width, int height, int frames) {
  FrameRenderer renderer;
  if (!renderer.Open(width, height, false)) {
    std::fprintf(stderr, "frame_bench: %s\n", renderer.error().c_str());
    std::exit(1);
  }
  CaptureFrame frame;
  renderer.Render(100.0, frame);  // warm up: shader compilation, uploads
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < frames; ++i) renderer.Render(100.0 + i / 60.0, frame);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count() / frames;
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

  std::printf("%-10s %9s %15s %13s %12s %12s\n", "size", "full ms", "1-texture ms", "fetch ms", "full/1-tex",
              "full/fetch");
  const int sizes[][2] = {{1280, 640}, {1920, 960}};
  bool met = true;
  for (auto [w, h] : sizes) {
    fs::current_path(runDir);
    const double full = MsPerFrame(w, h, 40);
    fs::current_path(single.path());
    const double one = MsPerFrame(w, h, 40);
    fs::current_path(fetch.path());
    const double floor = MsPerFrame(w, h, 40);
    std::printf("%4dx%-5d %9.2f %15.2f %13.2f %12.2f %12.2f\n", w, h, full, one, floor, full / one, full / floor);
    met = met && full <= kGoal * floor;
  }
  std::printf("goal: full <= %.2f x fetch floor at both sizes: %s\n", kGoal, met ? "met" : "MISSED");
  return met ? 0 : 1;
}
