// LoadTexture of a 1024 × 1024 JPEG against a bare DevIL decode and RGBA copy
// of the same file, interleaved in one run; prints the medians and their
// ratio (goal: at most 1.15). Needs a display: run it under xvfb-run.
#include <GL/glew.h>
#include <IL/il.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <random>
#include <vector>

#include "gpu/texture.h"
#include "measure/workbench.h"

namespace {

constexpr int kSize = 1024;
constexpr int kRounds = 21;
const char* const kFile = "bench.jpg";

// A photograph-like picture: smooth shapes, texture and grain.
bool WriteJpeg() {
  std::vector<uint8_t> px(3u * kSize * kSize);
  std::mt19937 rng(11);
  for (int i = 0; i < kSize; ++i)
    for (int j = 0; j < kSize; ++j)
      for (int c = 0; c < 3; ++c) {
        const double v = 120 + 70 * std::sin(i * 0.011 + c) * std::cos(j * 0.017) + 25 * std::sin((i * j) * 0.0007) +
                         static_cast<int>(rng() % 21) - 10;
        px[3u * (i * kSize + j) + c] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
      }
  ILuint image;
  ilGenImages(1, &image);
  ilBindImage(image);
  const bool ok = ilTexImage(kSize, kSize, 1, 3, IL_RGB, IL_UNSIGNED_BYTE, px.data()) && ilSaveImage(kFile);
  ilDeleteImages(1, &image);
  return ok;
}

// What any loader has to do at least: decode and copy out as RGBA8.
void BareDecode() {
  ILuint image;
  ilGenImages(1, &image);
  ilBindImage(image);
  ilLoadImage(kFile);
  const ILint w = ilGetInteger(IL_IMAGE_WIDTH), h = ilGetInteger(IL_IMAGE_HEIGHT);
  std::unique_ptr<uint8_t[]> pixels(new uint8_t[static_cast<size_t>(w) * h * 4]);
  ilCopyPixels(0, 0, 0, static_cast<ILuint>(w), static_cast<ILuint>(h), 1, IL_RGBA, IL_UNSIGNED_BYTE, pixels.get());
  ilDeleteImages(1, &image);
}

void FullLoad() {
  TextureHandle* texture = LoadTexture(kFile);
  glFinish();
  glDeleteTextures(1, &texture->glName);  // the demo keeps its textures; the benchmark does not
  delete texture;
}

template <typename F>
double Millis(F f) {
  const auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main() {
  if (!OpenTestGlContext()) {
    std::fprintf(stderr, "texture benchmark: no GL context (is a display reachable? try xvfb-run)\n");
    return 1;
  }
  ilInit();
  TempDir dir;
  dir.Enter();
  if (!WriteJpeg()) {
    std::fprintf(stderr, "texture benchmark: cannot write %s\n", kFile);
    return 1;
  }
  std::printf("GL renderer: %s\n", reinterpret_cast<const char*>(glGetString(GL_RENDERER)));
  BareDecode();
  FullLoad();
  std::vector<double> bare, full;
  for (int r = 0; r < kRounds; ++r) {
    bare.push_back(Millis(BareDecode));
    full.push_back(Millis(FullLoad));
  }
  const double b = Median(bare), f = Median(full);
  std::printf("%d x %d JPEG (%ju bytes), median of %d interleaved rounds\n", kSize, kSize,
              static_cast<uintmax_t>(std::filesystem::file_size(kFile)), kRounds);
  std::printf("  bare DevIL decode + RGBA copy  %8.3f ms\n", b);
  std::printf("  LoadTexture                    %8.3f ms\n", f);
  std::printf("  ratio                          %8.3f (goal <= 1.15)\n", f / b);
  return 0;
}
