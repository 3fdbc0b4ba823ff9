#include "gpu/texture.h"

#include <IL/il.h>

#include <cstdint>
#include <cstdio>
#include <memory>
#include <new>
#include <string>

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

using PixelPass = void (*)(uint8_t* rgba, int width, int height);

void ReliefPasses(uint8_t* rgba, int width, int height) {
  GreyToAlpha(rgba, width, height);
  BuildNormalMap(width, height, rgba);
}

// The one loader: decode, copy out as RGBA8, run `pass` over the pixels (if
// any), upload, set the filters.
TextureHandle* LoadRgbaTexture(const char* fileName, PixelPass pass) {
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

TextureHandle* LoadTexture(const char* fileName) { return LoadRgbaTexture(fileName, nullptr); }

TextureHandle* LoadReliefTexture() { return LoadRgbaTexture("311_18.jpg", ReliefPasses); }
