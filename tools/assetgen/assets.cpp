#include "tools/assetgen/assets.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <ostream>
#include <stdexcept>
#include <thread>

#include "tools/assetgen/credits.h"
#include "tools/assetgen/image.h"
#include "tools/assetgen/master.h"
#include "tools/assetgen/ogg_vorbis.h"
#include "tools/assetgen/photos.h"
#include "data/files.h"
#include "score/score.h"
#include "platform/web/webgl_dialect.h"
#include "tools/assetgen/shader_timeline.h"
#include "tools/assetgen/synth.h"

namespace sorvane::assetgen {
namespace {

constexpr int kImageSize = 1024;
constexpr int kJpegQuality = 93;
constexpr int kSampleRate = 44100;
constexpr float kVorbisQuality = 0.5f;
constexpr int kOggSerial = 0x534f5256;  // fixed, so the file is reproducible

Asset PhotoAsset(const char* name, Photo photo) {
  return {name, 1.0, [photo](const GenerateOptions&, std::string&) {
            return EncodeJpeg(RenderPhoto(photo, kImageSize), kJpegQuality);
          }};
}

std::vector<uint8_t> MakeMusic(std::string& note) {
  const score::Score& score = score::ThePiece();
  StereoBuffer mix = RenderScore(score, kSampleRate);
  const LoudnessFigures f = MasterToTarget(mix, MasterTarget{});
  char text[96];
  std::snprintf(text, sizeof text, "%.1f LUFS, LRA %.1f LU, %.1f dBTP", f.integratedLufs, f.rangeLu,
                f.truePeakDbtp);
  note = text;
  return EncodeOggVorbis(mix, kVorbisQuality, kOggSerial,
                         {"TITLE=Slow Amber Circles", "ALBUM=sorvane", "TRACKNUMBER=4",
                          "COMMENT=rendered from its score by sorvane-assetgen"});
}

std::string SystemError() { return std::strerror(errno); }

std::string ReadText(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) throw std::runtime_error("cannot read " + path + " (" + SystemError() + ")");
  std::string text;
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) text.append(buffer, n);
  const bool failed = std::ferror(f);
  std::fclose(f);
  if (failed) throw std::runtime_error("cannot read " + path);
  return text;
}

// A shader source as the demo reads it: a vertex shader with the shared
// timeline code and the score's events in its marked block, a fragment
// shader as written; each in the browser's dialect where that is asked.
Asset ShaderAsset(const std::string& name) {
  return {name, 0.1, [name](const GenerateOptions& o, std::string& note) {
            const score::Score& score = score::ThePiece();
            const std::string sourcePath = o.shaderDir + "/" + name;
            std::string text = ReadText(sourcePath);
            const bool vertex = name.ends_with(".vert");
            try {
              if (vertex) {
                const std::string shared = ReadText(o.shaderDir + "/timeline.glsl");
                text = FillTimeline(text, shared + "\n" + TimelineGlsl(score));
                note = std::to_string(score.sections.size()) + " sections, " + std::to_string(score.chords.size()) +
                       " chords, " + std::to_string(score.bells.size()) + " bells";
              }
              if (o.webgl) {
                text = webgl::ToWebGlDialect(text, vertex ? webgl::ShaderStage::Vertex : webgl::ShaderStage::Fragment);
                note += note.empty() ? "WebGL" : ", WebGL";
              }
            } catch (const std::runtime_error& e) {
              throw std::runtime_error(sourcePath + ": " + e.what());  // the source is at fault, not the output
            }
            return std::vector<uint8_t>(text.begin(), text.end());
          }};
}

// Fails early, before minutes of work, if nothing can be written.
void CheckWritable(const std::string& dir) {
  std::error_code ec;
  std::filesystem::create_directories(dir, ec);
  if (ec) throw std::runtime_error("cannot create output folder (" + ec.message() + ")");
  const std::string probe = dir + "/.sorvane-assetgen-probe";
  std::FILE* f = std::fopen(probe.c_str(), "wb");
  if (!f) throw std::runtime_error("output folder not writable (" + SystemError() + ")");
  std::fclose(f);
  std::remove(probe.c_str());
}

}  // namespace

const std::vector<Asset>& AssetList() {
  static const std::vector<Asset> assets = {
      {datafiles::kMusic, 8.0,
       [](const GenerateOptions&, std::string& note) { return MakeMusic(note); }},
      PhotoAsset(datafiles::kStone, Photo::Stone),
      PhotoAsset(datafiles::kRust, Photo::Rust),
      PhotoAsset(datafiles::kMarble, Photo::Marble),
      PhotoAsset(datafiles::kCloud, Photo::Cloud),
      PhotoAsset(datafiles::kCaustics, Photo::Caustics),
      PhotoAsset(datafiles::kBark, Photo::Bark),
      {datafiles::kCredits, 0.3,
       [](const GenerateOptions& o, std::string&) {
         return EncodeJpeg(RenderCredits(o.fontDir, kImageSize), kJpegQuality);
       }},
  };
  return assets;
}

const std::vector<Asset>& ShaderAssetList() {
  static const std::vector<Asset> shaders = {
      ShaderAsset(datafiles::VertexShader(datafiles::kAbs)), ShaderAsset(datafiles::VertexShader(datafiles::kMask)),
      ShaderAsset(datafiles::FragmentShader(datafiles::kAbs)),
      ShaderAsset(datafiles::FragmentShader(datafiles::kMask))};
  return shaders;
}

void WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes) {
  const std::string temporary = path + ".part";
  std::FILE* f = std::fopen(temporary.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write (" + SystemError() + ")");
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const std::string writeError = written ? "" : SystemError();
  if (std::fclose(f) != 0 || !written) {
    const std::string cause = written ? SystemError() : writeError;
    std::remove(temporary.c_str());
    throw std::runtime_error("cannot write (" + cause + ")");
  }
  if (std::rename(temporary.c_str(), path.c_str()) != 0) {
    const std::string cause = SystemError();
    std::remove(temporary.c_str());
    throw std::runtime_error("cannot replace the file (" + cause + ")");
  }
}

bool GenerateAssets(const GenerateOptions& options, std::ostream& log, std::ostream& errors) {
  std::vector<const Asset*> candidates, work;
  for (const Asset& a : AssetList()) candidates.push_back(&a);
  if (!options.shaderDir.empty())
    for (const Asset& a : ShaderAssetList()) candidates.push_back(&a);
  for (const Asset* a : candidates)
    if (options.only.empty() ||
        std::find(options.only.begin(), options.only.end(), a->name) != options.only.end())
      work.push_back(a);
  for (const std::string& name : options.only)
    if (std::none_of(work.begin(), work.end(), [&](const Asset* a) { return a->name == name; })) {
      const bool shader = std::any_of(ShaderAssetList().begin(), ShaderAssetList().end(),
                                      [&](const Asset& a) { return a.name == name; });
      errors << "sorvane-assetgen: " << name << (shader ? ": needs --shader-dir" : ": no such asset") << "\n";
      return false;
    }
  if (work.empty()) return true;
  std::stable_sort(work.begin(), work.end(),
                   [](const Asset* a, const Asset* b) { return a->cost > b->cost; });

  try {
    CheckWritable(options.outputDir);
  } catch (const std::exception& e) {
    errors << "sorvane-assetgen: " << options.outputDir << ": " << e.what() << "\n";
    return false;
  }

  std::atomic<size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex outputLock;
  std::string firstError;
  auto worker = [&] {
    for (size_t i; !failed && (i = next++) < work.size();) {
      const Asset& asset = *work[i];
      const std::string path = options.outputDir + "/" + asset.name;
      const auto start = std::chrono::steady_clock::now();
      try {
        std::string note;
        const std::vector<uint8_t> bytes = asset.make(options, note);
        WriteFileAtomically(path, bytes);
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        char line[160];
        std::snprintf(line, sizeof line, "  %-27s %6.2f s  %7zu bytes%s%s\n", asset.name.c_str(),
                      seconds, bytes.size(), note.empty() ? "" : "  ", note.c_str());
        std::lock_guard<std::mutex> lock(outputLock);
        log << line << std::flush;
      } catch (const std::exception& e) {
        std::lock_guard<std::mutex> lock(outputLock);
        if (!failed.exchange(true)) firstError = path + ": " + e.what();
      }
    }
  };
  unsigned threads = options.threads ? options.threads : std::thread::hardware_concurrency();
  threads = std::clamp<unsigned>(threads, 1, unsigned(work.size()));
  std::vector<std::thread> pool;
  for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
  worker();
  for (std::thread& t : pool) t.join();
  if (failed) {
    errors << "sorvane-assetgen: " << firstError << "\n";
    return false;
  }
  return true;
}

}  // namespace sorvane::assetgen
