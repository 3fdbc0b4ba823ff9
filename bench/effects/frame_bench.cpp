// What the two layers cost: milliseconds per frame rendered off screen at
// 1280 × 640 and 1920 × 960, in one run, for the full frame and two floors
// drawn with the same strips, textures, blending and read-back:
//   one-texture floor: each strip samples a single texture;
//   fetch floor: the run folder's own shaders with each fragment program cut
//     down to its texture reads (four for the relief, three for the veil,
//     seven a pixel, at the same coordinates) summed, no shading maths.
// Goal: full ≤ 1.25 × the fetch floor at both sizes (the per-time work of the
// shaders belongs to the four vertices, not to every pixel). Prints the
// ratios and ends with status 1 when a size misses the goal. Each figure is
// the best of twelve short rounds that take turns, so a busy machine slows all
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

#include "measure/workbench.h"
#include "data/files.h"
#include "effects/frame_renderer.h"

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

void CopyImages(const fs::path& runDir, const TempDir& into) {
  for (const auto& e : fs::directory_iterator(runDir))
    if (e.path().extension() == ".jpg") fs::copy_file(e.path(), into / e.path().filename().string());
}

// Stand-in shaders whose fragment program samples one texture.
void MakeOneTextureFloor(const fs::path& runDir, const TempDir& floor) {
  CopyImages(runDir, floor);
  const std::string vert =
      "#version 120\nvarying vec2 uv;\n"
      "void main() { uv = gl_MultiTexCoord0.xy; gl_Position = ftransform(); }\n";
  const std::string frag =
      "#version 120\nuniform sampler2D u0; varying vec2 uv;\n"
      "void main() { gl_FragColor = texture2D(u0, uv); }\n";
  for (const char* program : {datafiles::kAbs, datafiles::kMask}) {
    WriteFile(floor / datafiles::VertexShader(program), vert);
    WriteFile(floor / datafiles::FragmentShader(program), frag);
  }
}

// A fragment shader's source with its main() replaced by the sum of the
// texture2D reads it makes; empty if it has no main() or no reads.
std::string FetchesOnly(const std::string& source) {
  const size_t main = source.find("void main()");
  if (main == std::string::npos) return {};
  std::string sum;
  for (size_t at = source.find("texture2D(", main); at != std::string::npos; at = source.find("texture2D(", at + 1)) {
    size_t end = at + 10;
    for (int depth = 1; end < source.size() && depth > 0; ++end) depth += source[end] == '(' ? 1 : source[end] == ')' ? -1 : 0;
    sum += (sum.empty() ? "" : " + ") + source.substr(at, end - at);
  }
  if (sum.empty()) return {};
  return source.substr(0, main) + "void main() { gl_FragColor = " + sum + "; }\n";
}

// The run folder's vertex shaders with fetch-only fragment shaders.
bool MakeFetchFloor(const fs::path& runDir, const TempDir& floor) {
  CopyImages(runDir, floor);
  for (const char* program : {datafiles::kAbs, datafiles::kMask}) {
    const std::string frag = FetchesOnly(ReadFile((runDir / datafiles::FragmentShader(program)).string()));
    if (frag.empty()) return false;
    WriteFile(floor / datafiles::FragmentShader(program), frag);
    fs::copy_file(runDir / datafiles::VertexShader(program), floor / datafiles::VertexShader(program));
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  // Absolute, since the loop below moves between the folders.
  const fs::path runDir = fs::absolute(argc > 1 ? argv[1] : ".");
  if (!fs::is_regular_file(runDir / datafiles::kStone)) {
    std::fprintf(stderr, "usage: frame_bench [RUNDIR]  (the folder holding the demo's data; %s has none)\n",
                 runDir.string().c_str());
    return 2;
  }
  TempDir single, fetch;
  MakeOneTextureFloor(runDir, single);
  if (!MakeFetchFloor(runDir, fetch)) {
    std::fprintf(stderr, "frame_bench: no texture2D reads found in the fragment shaders of %s\n", runDir.string().c_str());
    return 2;
  }

  std::printf("%-10s %9s %13s %9s %11s %11s   %s\n", "size", "full ms", "1-texture ms", "fetch ms", "full/1-tex",
              "full/fetch", "(CPU ms: full, fetch, full/fetch)");
  const int sizes[][2] = {{1280, 640}, {1920, 960}};
  bool met = true;
  for (auto [w, h] : sizes) {
    Cost full, one, floor;
    for (int round = 0; round < 12; ++round) {
      fs::current_path(runDir);
      KeepBest(full, MsPerFrame(w, h, 5));
      fs::current_path(single.path());
      KeepBest(one, MsPerFrame(w, h, 5));
      fs::current_path(fetch.path());
      KeepBest(floor, MsPerFrame(w, h, 5));
      // A floor that failed to build would draw nothing, quickly.
      if (ReadFile("shaders.log").find("rror") != std::string::npos) {
        std::fprintf(stderr, "frame_bench: the fetch floor's shaders do not build:\n%s", ReadFile("shaders.log").c_str());
        return 2;
      }
    }
    std::printf("%4dx%-5d %9.2f %13.2f %9.2f %11.2f %11.2f   (%.1f, %.1f, %.2f)\n", w, h, full.wallMs, one.wallMs,
                floor.wallMs, full.wallMs / one.wallMs, full.wallMs / floor.wallMs, full.cpuMs, floor.cpuMs,
                full.cpuMs / floor.cpuMs);
    met = met && full.wallMs <= kGoal * floor.wallMs;
  }
  std::printf("goal: full <= %.2f x fetch floor at both sizes: %s\n", kGoal, met ? "met" : "MISSED");
  return met ? 0 : 1;
}
