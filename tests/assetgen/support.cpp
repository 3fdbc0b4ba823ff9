#include "tests/assetgen/support.h"

#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <mutex>

#include <IL/il.h>
#include <vorbis/vorbisfile.h>

namespace sorvane::assetgen::test {

std::string RunDir() { return SORVANE_RUN_DIR; }
std::string RunPath(const std::string& name) { return RunDir() + "/" + name; }

Decoded LoadImage(const std::string& path, int channels) {
  static std::once_flag init;
  std::call_once(init, [] { ilInit(); });
  Decoded d;
  ILuint id = 0;
  ilGenImages(1, &id);
  ilBindImage(id);
  if (ilLoadImage(path.c_str())) {
    d.width = ilGetInteger(IL_IMAGE_WIDTH);
    d.height = ilGetInteger(IL_IMAGE_HEIGHT);
    d.channels = channels;
    d.pixels.resize(size_t(d.width) * size_t(d.height) * size_t(channels));
    ilCopyPixels(0, 0, 0, ILuint(d.width), ILuint(d.height), 1, channels == 4 ? IL_RGBA : IL_RGB,
                 IL_UNSIGNED_BYTE, d.pixels.data());
  }
  ilDeleteImages(1, &id);
  return d;
}

std::vector<int> Grey(const Decoded& image) {
  std::vector<int> grey(size_t(image.width) * size_t(image.height));
  for (int y = 0; y < image.height; ++y)
    for (int x = 0; x < image.width; ++x) {
      const uint8_t* p = image.At(x, y);
      grey[size_t(y) * size_t(image.width) + size_t(x)] = (p[0] + p[1] + p[2]) / 3;
    }
  return grey;
}

double SeamRatio(const std::vector<int>& grey, int width, int height, bool acrossColumns) {
  auto at = [&](int x, int y) { return grey[size_t(y) * size_t(width) + size_t(x)]; };
  double seam = 0.0, inner = 0.0;
  if (acrossColumns) {
    for (int y = 0; y < height; ++y) {
      seam += std::abs(at(0, y) - at(width - 1, y));
      for (int x = 0; x + 1 < width; ++x) inner += std::abs(at(x, y) - at(x + 1, y));
    }
    return (seam / height) / (inner / (double(height) * (width - 1)));
  }
  for (int x = 0; x < width; ++x) {
    seam += std::abs(at(x, 0) - at(x, height - 1));
    for (int y = 0; y + 1 < height; ++y) inner += std::abs(at(x, y) - at(x, y + 1));
  }
  return (seam / width) / (inner / (double(width) * (height - 1)));
}

AudioTrack DecodeOgg(const std::string& path) {
  AudioTrack track;
  OggVorbis_File file;
  if (ov_fopen(path.c_str(), &file) != 0) return track;
  const vorbis_info* info = ov_info(&file, -1);
  track.rate = int(info->rate);
  track.channels = info->channels;
  int section = 0;
  for (;;) {
    float** pcm = nullptr;
    const long frames = ov_read_float(&file, &pcm, 4096, &section);
    if (frames <= 0) break;
    track.left.insert(track.left.end(), pcm[0], pcm[0] + frames);
    track.right.insert(track.right.end(), pcm[track.channels > 1 ? 1 : 0],
                       pcm[track.channels > 1 ? 1 : 0] + frames);
  }
  ov_clear(&file);
  return track;
}

int RunGenerator(const std::string& arguments, std::string& out, std::string& err) {
  const TempDir dir;
  const std::string command = std::string("'") + SORVANE_ASSETGEN_EXE + "' " + arguments + " >'" + (dir / "out") +
                              "' 2>'" + (dir / "err") + "'";
  const int status = std::system(command.c_str());
  out = ::ReadFile(dir / "out");
  err = ::ReadFile(dir / "err");
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace sorvane::assetgen::test
