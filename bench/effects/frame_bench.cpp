// What the two layers cost: milliseconds per frame rendered off screen at
// 1280 × 640 and 1920 × 960, the full frame against a floor frame (the same
// two strips, each sampling a single texture), in one run, and the ratio.
// Goal: full / floor ≤ 2.0. Run inside the run folder, under a display.
#include <GL/glew.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "tests/support/support.h"
#include "tools/capture/capture.h"

namespace fs = std::filesystem;

namespace {

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

}  // namespace

int main(int argc, char** argv) {
  // Absolute, since the loop below moves between the two folders.
  const fs::path runDir = fs::absolute(argc > 1 ? argv[1] : ".");
  if (!fs::is_regular_file(runDir / "311_18.jpg")) {
    std::fprintf(stderr, "usage: frame_bench [RUNDIR]  (the folder holding the demo's data; %s has none)\n",
                 runDir.string().c_str());
    return 2;
  }
  TempDir floor;
  for (const auto& e : fs::directory_iterator(runDir))
    if (e.path().extension() == ".jpg" || e.path().extension() == ".vert")
      fs::copy_file(e.path(), floor / e.path().filename().string());
  WriteFile(floor / "abs.frag",
            "#version 120\nuniform sampler2D u0; varying vec2 uv;\n"
            "void main() { gl_FragColor = texture2D(u0, uv); }\n");
  WriteFile(floor / "mask.frag",
            "#version 120\nuniform sampler2D u0; varying vec2 uv;\n"
            "void main() { gl_FragColor = texture2D(u0, uv); }\n");

  std::printf("%-10s %14s %14s %8s\n", "size", "full ms/frame", "floor ms/frame", "ratio");
  const int sizes[][2] = {{1280, 640}, {1920, 960}};
  for (auto [w, h] : sizes) {
    fs::current_path(runDir);
    const double full = MsPerFrame(w, h, 40);
    fs::current_path(floor.path());
    const double base = MsPerFrame(w, h, 40);
    std::printf("%4dx%-5d %14.2f %14.2f %8.2f\n", w, h, full, base, full / base);
  }
  return 0;
}
