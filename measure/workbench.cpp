#include "measure/workbench.h"

#include <GL/glew.h>
#include <vorbis/vorbisenc.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <random>
#include <sstream>
#include <vector>

#include "platform/platform.h"

bool OpenTestGlContext(int width, int height) {
  static std::unique_ptr<platform::Video> video;
  static bool open = false;
  static platform::Window* drawable = nullptr;
  // Other code (the capture tool's renderer) may have made a context of its
  // own current since: the tests' context is current again on every call.
  if (open) return video->MakeCurrent(drawable);
  video = platform::CreateDesktopVideo();
  drawable = platform::OpenHiddenGlWindow(*video, "sorvane-test", width, height);
  if (!drawable) return false;
  if (glewInit() != GLEW_OK) return false;
  glViewport(0, 0, width, height);
  open = true;
  return true;
}

bool WriteTestOgg(const std::string& path, double seconds, int rate, int channels) {
  return WriteOgg(path, static_cast<long>(seconds * rate), rate, channels, [rate](long frame) {
    return 0.2f * static_cast<float>(std::sin(2.0 * std::numbers::pi * 440.0 * static_cast<double>(frame) / rate));
  });
}

bool WriteOgg(const std::string& path, long total, int rate, int channels, const std::function<float(long)>& sample) {
  vorbis_info vi;
  vorbis_info_init(&vi);
  if (vorbis_encode_init_vbr(&vi, channels, rate, 0.3f) != 0) return false;
  vorbis_comment vc;
  vorbis_comment_init(&vc);
  vorbis_dsp_state vd;
  vorbis_analysis_init(&vd, &vi);
  vorbis_block vb;
  vorbis_block_init(&vd, &vb);
  ogg_stream_state os;
  ogg_stream_init(&os, 1234);
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return false;

  ogg_packet header, comments, code;
  vorbis_analysis_headerout(&vd, &vc, &header, &comments, &code);
  ogg_stream_packetin(&os, &header);
  ogg_stream_packetin(&os, &comments);
  ogg_stream_packetin(&os, &code);
  ogg_page page;
  while (ogg_stream_flush(&os, &page)) {
    std::fwrite(page.header, 1, static_cast<size_t>(page.header_len), out);
    std::fwrite(page.body, 1, static_cast<size_t>(page.body_len), out);
  }
  long done = 0;
  bool eos = false;
  while (!eos) {
    const long n = std::min<long>(1024, total - done);
    if (n > 0) {
      float** buffer = vorbis_analysis_buffer(&vd, static_cast<int>(n));
      for (long i = 0; i < n; ++i) {
        const float value = sample(done + i);
        for (int c = 0; c < channels; ++c) buffer[c][i] = value;
      }
      vorbis_analysis_wrote(&vd, static_cast<int>(n));
      done += n;
    } else {
      vorbis_analysis_wrote(&vd, 0);
    }
    while (vorbis_analysis_blockout(&vd, &vb) == 1) {
      vorbis_analysis(&vb, nullptr);
      vorbis_bitrate_addblock(&vb);
      ogg_packet packet;
      while (vorbis_bitrate_flushpacket(&vd, &packet)) {
        ogg_stream_packetin(&os, &packet);
        while (!eos && ogg_stream_pageout(&os, &page)) {
          std::fwrite(page.header, 1, static_cast<size_t>(page.header_len), out);
          std::fwrite(page.body, 1, static_cast<size_t>(page.body_len), out);
          if (ogg_page_eos(&page)) eos = true;
        }
      }
    }
  }
  ogg_stream_clear(&os);
  vorbis_block_clear(&vb);
  vorbis_dsp_clear(&vd);
  vorbis_comment_clear(&vc);
  vorbis_info_clear(&vi);
  return std::fclose(out) == 0;
}

// A name no other folder has: create_directory is false for one that
// exists, so racing processes each get their own.
TempDir::TempDir() {
  std::random_device seed;
  std::mt19937_64 rng((static_cast<uint64_t>(seed()) << 32) ^ seed());
  const std::filesystem::path base = std::filesystem::temp_directory_path();
  for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
    char name[32];
    std::snprintf(name, sizeof name, "sorvane-test-%012llx", static_cast<unsigned long long>(rng() & 0xFFFFFFFFFFFFull));
    std::error_code error;
    if (std::filesystem::create_directory(base / name, error)) path_ = (base / name).generic_string();
  }
}

TempDir::~TempDir() {
  if (!previous_.empty()) std::filesystem::current_path(previous_);
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

void TempDir::Enter() {
  previous_ = std::filesystem::current_path().string();
  std::filesystem::current_path(path_);
}

bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}
