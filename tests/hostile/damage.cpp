#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numeric>
#include <random>

#include "tools/assetgen/image.h"
#include "tests/hostile/hostile.h"

namespace fs = std::filesystem;

namespace hostile {

namespace {

constexpr int kFlippedBytes = 64;
constexpr uint16_t kHugeSide = 40000;

bool EndsWith(const std::string& s, const std::string& tail) {
  return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

Bytes ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteBytes(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

}  // namespace

std::string Damage::Describe() const {
  switch (kind) {
    case DamageKind::Intact: return "intact";
    case DamageKind::Missing: return "missing";
    case DamageKind::Empty: return "empty";
    case DamageKind::Truncated: return "truncated to " + std::to_string(percent) + " %";
    case DamageKind::Flipped: return std::to_string(kFlippedBytes) + " bytes flipped";
    case DamageKind::ForeignHeader: return "foreign header";
    case DamageKind::RandomBytes: return "random bytes";
    case DamageKind::Directory: return "a directory";
    case DamageKind::Unreadable: return "no read permission";
    case DamageKind::HugeDeclaredSize: return "declares 40000 x 40000";
    case DamageKind::OnePixel: return "valid 1 x 1";
  }
  return "?";
}

Bytes ForeignMagic(const std::string& fileName) {
  const Bytes png = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};
  if (EndsWith(fileName, ".ogg")) return {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J', 'F', 'I', 'F', 0x00};
  if (EndsWith(fileName, ".vert"))
    return {0x7F, 'E', 'L', 'F', 0x02, 0x01, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
            0x03, 0x00, 0x3E, 0x00};
  return png;
}

bool SetJpegDeclaredSize(Bytes& jpeg, uint16_t width, uint16_t height) {
  if (jpeg.size() < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
  size_t at = 2;
  while (at + 4 <= jpeg.size()) {
    if (jpeg[at] != 0xFF) return false;
    const uint8_t marker = jpeg[at + 1];
    if (marker == 0xDA || marker == 0xD9) return false;  // the scan or the end came first
    const size_t length = static_cast<size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3];
    if (marker >= 0xC0 && marker <= 0xC2) {
      // Segment: length (2), precision (1), height (2), width (2), …
      if (length < 8 || at + 2 + length > jpeg.size()) return false;
      jpeg[at + 5] = static_cast<uint8_t>(height >> 8);
      jpeg[at + 6] = static_cast<uint8_t>(height & 0xFF);
      jpeg[at + 7] = static_cast<uint8_t>(width >> 8);
      jpeg[at + 8] = static_cast<uint8_t>(width & 0xFF);
      return true;
    }
    at += 2 + length;
  }
  return false;
}

bool DamageBytes(const Bytes& original, const std::string& fileName, const Damage& damage, uint32_t seed,
                 Bytes& out, std::string& why) {
  std::mt19937 random(seed);
  switch (damage.kind) {
    case DamageKind::Intact:
      out = original;
      return true;
    case DamageKind::Empty:
      out.clear();
      return true;
    case DamageKind::Truncated:
      if (damage.percent <= 0 || damage.percent >= 100) {
        why = "a truncation keeps between 1 and 99 %";
        return false;
      }
      out.assign(original.begin(), original.begin() + static_cast<std::ptrdiff_t>(original.size() *
                                                                                  static_cast<size_t>(damage.percent) / 100));
      return true;
    case DamageKind::Flipped: {
      out = original;
      std::vector<size_t> offsets(original.size());
      std::iota(offsets.begin(), offsets.end(), size_t{0});
      std::shuffle(offsets.begin(), offsets.end(), random);
      offsets.resize(std::min<size_t>(offsets.size(), kFlippedBytes));
      for (size_t at : offsets) out[at] = static_cast<uint8_t>(~out[at]);
      return true;
    }
    case DamageKind::ForeignHeader: {
      out = original;
      const Bytes magic = ForeignMagic(fileName);
      if (out.size() < magic.size()) out.resize(magic.size());
      std::copy(magic.begin(), magic.end(), out.begin());
      return true;
    }
    case DamageKind::RandomBytes: {
      out.resize(original.size());
      std::uniform_int_distribution<int> byte(0, 255);
      for (uint8_t& b : out) b = static_cast<uint8_t>(byte(random));
      return true;
    }
    case DamageKind::HugeDeclaredSize:
      out = original;
      if (!SetJpegDeclaredSize(out, kHugeSide, kHugeSide)) {
        why = fileName + " has no JPEG frame header before its scan";
        return false;
      }
      return true;
    case DamageKind::OnePixel: {
      sorvane::assetgen::RgbImage pixel(1, 1);
      pixel.pixels = {200, 120, 40};
      out = sorvane::assetgen::EncodeJpeg(pixel, 90);
      return true;
    }
    case DamageKind::Missing:
    case DamageKind::Directory:
    case DamageKind::Unreadable:
      break;
  }
  why = damage.Describe() + " is not a change of bytes";
  return false;
}

bool PrepareCase(const std::string& runDir, const std::string& caseDir, const std::string& fileName,
                 const Damage& damage, uint32_t seed, std::string& why) {
  std::error_code error;
  for (const fs::directory_entry& entry : fs::directory_iterator(runDir, error)) {
    if (!entry.is_regular_file()) continue;
    if (!fs::copy_file(entry.path(), fs::path(caseDir) / entry.path().filename(), error)) {
      why = "cannot copy " + entry.path().string() + ": " + error.message();
      return false;
    }
  }
  if (error) {
    why = "cannot list " + runDir + ": " + error.message();
    return false;
  }
  const fs::path target = fs::path(caseDir) / fileName;
  if (!fs::is_regular_file(target)) {
    why = fileName + " is not in the run folder " + runDir;
    return false;
  }
  switch (damage.kind) {
    case DamageKind::Missing:
      fs::remove(target, error);
      break;
    case DamageKind::Directory:
      if (fs::remove(target, error)) fs::create_directory(target, error);
      break;
    case DamageKind::Unreadable:
      if (chmod(target.c_str(), 0) != 0) why = "chmod failed";
      break;
    default: {
      Bytes damaged;
      if (!DamageBytes(ReadBytes(target), fileName, damage, seed, damaged, why)) return false;
      if (!WriteBytes(target, damaged)) why = "cannot write " + target.string();
    }
  }
  if (error) why = "cannot put " + target.string() + " in place: " + error.message();
  return why.empty();
}

}  // namespace hostile
