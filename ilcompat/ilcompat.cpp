#include "IL/il.h"
#include "codecs.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace ilcompat {
namespace {

struct Library {
  std::map<ILuint, Image> images{{0, Image{}}};  // 0: the default image
  ILuint bound = 0;
  ILuint next = 1;
  std::vector<ILenum> errors;
  bool overwrite = false;
};

Library& Lib() {
  static Library library;
  return library;
}

}  // namespace

void SetError(ILenum error) {
  std::vector<ILenum>& errors = Lib().errors;
  if (errors.size() == 32) errors.erase(errors.begin());
  errors.push_back(error);
}

namespace {

Image& Bound() { return Lib().images[Lib().bound]; }

ILenum FormatOf(int channels) { return channels == 1 ? IL_LUMINANCE : channels == 3 ? IL_RGB : IL_RGBA; }

int ChannelsOf(ILenum format) {
  switch (format) {
    case IL_LUMINANCE: return 1;
    case IL_RGB: return 3;
    case IL_RGBA: return 4;
    default: return 0;
  }
}

std::string Lowercase(std::string text) {
  for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return text;
}

std::string Extension(const char* fileName) {
  const char* dot = std::strrchr(fileName, '.');
  const char* slash = std::max(std::strrchr(fileName, '/'), std::strrchr(fileName, '\\'));
  return dot && dot > slash ? Lowercase(dot + 1) : std::string();
}

enum class FileType { Unknown, Jpeg, Png };

// The extension decides, as with DevIL; a file without a known one is
// recognised by its first bytes.
FileType TypeOf(const char* fileName, const std::vector<ILubyte>& bytes) {
  const std::string ext = Extension(fileName);
  if (ext == "jpg" || ext == "jpeg" || ext == "jpe" || ext == "jif" || ext == "jfif") return FileType::Jpeg;
  if (ext == "png") return FileType::Png;
  if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF) return FileType::Jpeg;
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1A\n", 8) == 0) return FileType::Png;
  return FileType::Unknown;
}

}  // namespace

bool Allocate(Image* image, unsigned long width, unsigned long height, int channels) {
  const unsigned long long bytes = static_cast<unsigned long long>(width) * height * static_cast<unsigned>(channels);
  if (width == 0 || height == 0 || width > 0xFFFFFFFFul || height > 0xFFFFFFFFul || bytes > PTRDIFF_MAX / 2) {
    SetError(IL_OUT_OF_MEMORY);
    return false;
  }
  try {
    image->pixels.assign(static_cast<std::size_t>(bytes), 0);
  } catch (const std::bad_alloc&) {
    SetError(IL_OUT_OF_MEMORY);
    return false;
  }
  image->width = static_cast<ILuint>(width);
  image->height = static_cast<ILuint>(height);
  image->channels = channels;
  return true;
}

namespace {

bool ReadWholeFile(const char* fileName, std::vector<ILubyte>* bytes) {
  std::ifstream in(fileName, std::ios::binary);
  if (!in) return false;
  // A folder opens on some systems and fails on the first read, with an
  // exception from the stream buffer.
  try {
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  } catch (const std::exception&) {
    return false;
  }
  return !in.bad();
}

}  // namespace
}  // namespace ilcompat

using namespace ilcompat;

extern "C" {

void ilInit(void) {}

void ilGenImages(ILsizei count, ILuint* names) {
  Library& lib = Lib();
  for (ILsizei i = 0; i < count; ++i) {
    names[i] = lib.next++;
    lib.images[names[i]] = Image{};
  }
}

void ilBindImage(ILuint name) {
  Lib().images.try_emplace(name);
  Lib().bound = name;
}

void ilDeleteImages(ILsizei count, const ILuint* names) {
  Library& lib = Lib();
  for (ILsizei i = 0; i < count; ++i) {
    if (names[i] == 0) continue;
    lib.images.erase(names[i]);
    if (lib.bound == names[i]) lib.bound = 0;
  }
}

ILboolean ilIsImage(ILuint name) { return name != 0 && Lib().images.count(name) ? IL_TRUE : IL_FALSE; }

ILboolean ilLoadImage(ILconst_string fileName) {
  std::vector<ILubyte> bytes;
  if (!fileName || !ReadWholeFile(fileName, &bytes)) {
    SetError(IL_COULD_NOT_OPEN_FILE);
    return IL_FALSE;
  }
  switch (TypeOf(fileName, bytes)) {
    case FileType::Jpeg: return DecodeJpeg(fileName, bytes, &Bound()) ? IL_TRUE : IL_FALSE;
    case FileType::Png: return DecodePng(fileName, bytes, &Bound()) ? IL_TRUE : IL_FALSE;
    case FileType::Unknown: break;
  }
  SetError(IL_INVALID_EXTENSION);
  return IL_FALSE;
}

ILboolean ilSaveImage(ILconst_string fileName) {
  if (!fileName) {
    SetError(IL_INVALID_PARAM);
    return IL_FALSE;
  }
  const std::string ext = Extension(fileName);
  const bool jpeg = ext == "jpg" || ext == "jpeg" || ext == "jpe";
  if (!jpeg && ext != "png") {
    SetError(IL_INVALID_EXTENSION);
    return IL_FALSE;
  }
  if (!Lib().overwrite) {
    if (FILE* existing = std::fopen(fileName, "rb")) {
      std::fclose(existing);
      SetError(IL_FILE_ALREADY_EXISTS);
      return IL_FALSE;
    }
  }
  FILE* file = std::fopen(fileName, "wb");
  if (!file) {
    SetError(IL_COULD_NOT_OPEN_FILE);
    return IL_FALSE;
  }
  const bool written = jpeg ? EncodeJpeg(Bound(), file) : EncodePng(Bound(), file);
  if (std::fclose(file) != 0 || !written) {
    std::remove(fileName);
    SetError(jpeg ? IL_LIB_JPEG_ERROR : IL_LIB_PNG_ERROR);
    return IL_FALSE;
  }
  return IL_TRUE;
}

ILboolean ilTexImage(ILuint width, ILuint height, ILuint depth, ILubyte channels, ILenum format, ILenum type,
                     void* data) {
  if (depth > 1 || type != IL_UNSIGNED_BYTE || ChannelsOf(format) == 0 || ChannelsOf(format) != channels) {
    SetError(IL_INVALID_PARAM);
    return IL_FALSE;
  }
  Image image;
  if (!Allocate(&image, width, height, channels)) return IL_FALSE;
  if (data) std::memcpy(image.pixels.data(), data, image.pixels.size());
  image.origin = IL_ORIGIN_LOWER_LEFT;
  Bound() = std::move(image);
  return IL_TRUE;
}

ILint ilGetInteger(ILenum mode) {
  const Image& image = Bound();
  switch (mode) {
    case IL_IMAGE_WIDTH: return static_cast<ILint>(image.width);
    case IL_IMAGE_HEIGHT: return static_cast<ILint>(image.height);
    case IL_IMAGE_DEPTH: return 1;
    case IL_IMAGE_BPP: return image.channels;
    case IL_IMAGE_FORMAT: return static_cast<ILint>(FormatOf(image.channels));
    case IL_IMAGE_TYPE: return IL_UNSIGNED_BYTE;
    case IL_IMAGE_ORIGIN: return static_cast<ILint>(image.origin);
    case IL_CUR_IMAGE: return static_cast<ILint>(Lib().bound);
    default: SetError(IL_INVALID_ENUM); return 0;
  }
}

ILuint ilCopyPixels(ILuint x, ILuint y, ILuint z, ILuint width, ILuint height, ILuint depth, ILenum format,
                    ILenum type, void* data) {
  const Image& image = Bound();
  const int to = ChannelsOf(format);
  const bool fits = x <= image.width && width <= image.width - x && y <= image.height && height <= image.height - y;
  // Grey comes only from grey: DevIL weighs the colours for it, and nothing
  // here asks for that.
  if (!data || type != IL_UNSIGNED_BYTE || to == 0 || z != 0 || depth != 1 || !fits ||
      (to == 1 && image.channels != 1)) {
    SetError(IL_INVALID_PARAM);
    return 0;
  }
  auto* out = static_cast<ILubyte*>(data);
  const int from = image.channels;
  for (ILuint row = 0; row < height; ++row) {
    const ILubyte* in = image.pixels.data() + (static_cast<std::size_t>(y + row) * image.width + x) * from;
    for (ILuint column = 0; column < width; ++column, in += from, out += to) {
      if (to == 1) {
        out[0] = in[0];
        continue;
      }
      const ILubyte red = in[0], green = from == 1 ? in[0] : in[1], blue = from == 1 ? in[0] : in[2];
      out[0] = red;
      out[1] = green;
      out[2] = blue;
      if (to == 4) out[3] = from == 4 ? in[3] : 0xFF;
    }
  }
  return width * height * static_cast<ILuint>(to);
}

ILboolean ilEnable(ILenum mode) {
  if (mode != IL_FILE_OVERWRITE) {
    SetError(IL_INVALID_ENUM);
    return IL_FALSE;
  }
  Lib().overwrite = true;
  return IL_TRUE;
}

ILenum ilGetError(void) {
  std::vector<ILenum>& errors = Lib().errors;
  if (errors.empty()) return IL_NO_ERROR;
  const ILenum error = errors.back();
  errors.pop_back();
  return error;
}

}  // extern "C"
