#include "gpu/texture.h"

#include <IL/il.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <memory>
#include <new>
#include <string>

#include "data/files.h"
#include "gpu/normal_map.h"

namespace {

// Why DevIL refused a file, in words; drains DevIL's error stack so that no
// error carries over into the next load.
std::string DecodeFailure() {
  std::string cause;
  for (ILenum error = ilGetError(); error != IL_NO_ERROR; error = ilGetError()) {
    if (!cause.empty()) continue;
    switch (error) {
      case IL_COULD_NOT_OPEN_FILE: cause = "cannot be opened"; break;
      case IL_INVALID_EXTENSION: cause = "has no image type DevIL knows"; break;
      case IL_OUT_OF_MEMORY: cause = "does not fit in memory"; break;
      case IL_LIB_JPEG_ERROR: cause = "is not a decodable JPEG"; break;
      case IL_LIB_PNG_ERROR: cause = "is not a decodable PNG"; break;
      default: {
        char text[64];
        std::snprintf(text, sizeof text, "is not a decodable image (DevIL error 0x%X)", static_cast<unsigned>(error));
        cause = text;
      }
    }
  }
  return cause.empty() ? "is not a decodable image" : cause;
}

// The DevIL image of one load: generated and bound on construction, deleted
// when the load ends, whichever way.
class DevilImage {
 public:
  DevilImage() {
    ilGenImages(1, &name_);
    ilBindImage(name_);
  }
  ~DevilImage() { ilDeleteImages(1, &name_); }
  DevilImage(const DevilImage&) = delete;
  DevilImage& operator=(const DevilImage&) = delete;

 private:
  ILuint name_ = 0;
};

// Big-endian fields of image headers; false when the stream ends first.
bool ReadBigEndian(std::istream& in, int bytes, unsigned long* value) {
  *value = 0;
  for (int i = 0; i < bytes; ++i) {
    const int c = in.get();
    if (c == std::char_traits<char>::eof()) return false;
    *value = *value << 8 | static_cast<unsigned long>(c);
  }
  return true;
}

// Walks the marker segments up to the first frame header (SOF0 to SOF15,
// which are C0–CF less the C4 Huffman, C8 reserved and CC arithmetic-coding
// segments).
bool ReadJpegFrameHeader(std::istream& in, DeclaredImageSize* size) {
  for (int segments = 0; segments < 4096; ++segments) {
    int marker = in.get();
    if (marker != 0xFF) return false;
    while (marker == 0xFF) marker = in.get();  // fill bytes
    if (marker == std::char_traits<char>::eof() || marker == 0xD9 || marker == 0xDA) return false;
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) continue;  // no length field
    unsigned long length = 0;
    if (!ReadBigEndian(in, 2, &length) || length < 2) return false;
    if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
      unsigned long precision = 0, height = 0, width = 0, components = 0;
      if (!ReadBigEndian(in, 1, &precision) || !ReadBigEndian(in, 2, &height) || !ReadBigEndian(in, 2, &width) ||
          !ReadBigEndian(in, 1, &components))
        return false;
      // A height of 0 is given later in the scan; the decoder finds it.
      if (height == 0) return false;
      size->width = static_cast<long>(width);
      size->height = static_cast<long>(height);
      size->decodedBytesPerPixel = static_cast<int>(components) * (precision > 8 ? 2 : 1);
      return true;
    }
    in.seekg(static_cast<std::streamoff>(length - 2), std::ios::cur);
  }
  return false;
}

// IHDR is the first chunk of every PNG.
bool ReadPngHeader(std::istream& in, DeclaredImageSize* size) {
  static const char kRest[7] = {'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  char rest[7], type[4];
  unsigned long length = 0, width = 0, height = 0, depth = 0, colour = 0;
  if (!in.read(rest, 7) || !std::equal(rest, rest + 7, kRest) || !ReadBigEndian(in, 4, &length) ||
      !in.read(type, 4) || std::string(type, 4) != "IHDR" || !ReadBigEndian(in, 4, &width) ||
      !ReadBigEndian(in, 4, &height) || !ReadBigEndian(in, 1, &depth) || !ReadBigEndian(in, 1, &colour))
    return false;
  // Grey, -, RGB, palette (expanded to RGBA at most), grey+alpha, -, RGBA.
  static const int kComponents[7] = {1, 0, 3, 4, 2, 0, 4};
  if (colour > 6 || kComponents[colour] == 0) return false;
  size->width = static_cast<long>(width);
  size->height = static_cast<long>(height);
  size->decodedBytesPerPixel = kComponents[colour] * (depth > 8 ? 2 : 1);
  return true;
}

// Refuses, from the header alone, an image whose decoding would need a
// buffer beyond 2^31 − 1 bytes, either as decoded or as RGBA8.
void RefuseOversizedImage(const char* fileName) {
  DeclaredImageSize declared;
  if (!ReadDeclaredImageSize(fileName, &declared)) return;
  const int bytesPerPixel = std::max(declared.decodedBytesPerPixel, 4);
  const std::size_t bytes = RgbaByteCount(declared.width, declared.height);
  if (bytes == 0 || bytes / 4 * static_cast<std::size_t>(bytesPerPixel) > 0x7FFFFFFFu)
    throw ResourceError(std::string(fileName) + ": declares an image of " + std::to_string(declared.width) + " x " +
                        std::to_string(declared.height) + ", outside what can be loaded");
}

using PixelPass = void (*)(uint8_t* rgba, int width, int height);

void ReliefPasses(uint8_t* rgba, int width, int height) {
  GreyToAlpha(rgba, width, height);
  BuildNormalMap(width, height, rgba);
}

// The one loader: decode, copy out as RGBA8, run `pass` over the pixels (if
// any), upload, set the filters.
TextureHandle* LoadRgbaTexture(const char* fileName, PixelPass pass) {
  RefuseOversizedImage(fileName);
  auto handle = std::make_unique<TextureHandle>();
  DevilImage image;
  glGenTextures(1, &handle->glName);
  glBindTexture(GL_TEXTURE_2D, handle->glName);
  if (!ilLoadImage(fileName)) throw ResourceError(std::string(fileName) + ": " + DecodeFailure());

  const ILint width = ilGetInteger(IL_IMAGE_WIDTH);
  const ILint height = ilGetInteger(IL_IMAGE_HEIGHT);
  const std::size_t bytes = RgbaByteCount(width, height);
  if (bytes == 0)
    throw ResourceError(std::string(fileName) + ": image size " + std::to_string(width) + " x " +
                        std::to_string(height) + " is outside what can be loaded");
  std::unique_ptr<uint8_t[]> pixels(new (std::nothrow) uint8_t[bytes]);
  if (!pixels) throw ResourceError(std::string(fileName) + ": no memory for " + std::to_string(bytes) + " bytes of pixels");

  ilCopyPixels(0, 0, 0, static_cast<ILuint>(width), static_cast<ILuint>(height), 1, IL_RGBA, IL_UNSIGNED_BYTE,
               pixels.get());
  if (pass) pass(pixels.get(), width, height);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.get());
  pixels.reset();
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  return handle.release();
}

}  // namespace

std::size_t RgbaByteCount(long width, long height) {
  constexpr long long kMaxBytes = 0x7FFFFFFF;
  if (width <= 0 || height <= 0 || width > kMaxBytes || height > kMaxBytes) return 0;
  const long long bytes = static_cast<long long>(width) * height * 4;
  return bytes > kMaxBytes ? 0 : static_cast<std::size_t>(bytes);
}

bool ReadDeclaredImageSize(const char* fileName, DeclaredImageSize* size) {
  std::ifstream in(fileName, std::ios::binary);
  const int first = in.get(), second = in.get();
  if (first == 0xFF && second == 0xD8) return ReadJpegFrameHeader(in, size);
  if (first == 0x89 && second == 'P') {
    in.seekg(1);
    return ReadPngHeader(in, size);
  }
  return false;
}

TextureHandle* LoadTexture(const char* fileName) { return LoadRgbaTexture(fileName, nullptr); }

TextureHandle* LoadReliefTexture() { return LoadRgbaTexture(datafiles::kStone, ReliefPasses); }
