#include "IL/il.h"

// jpeglib.h needs FILE declared before it.
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <new>
#include <string>
#include <vector>

namespace {

// One image: 8-bit samples, `channels` per pixel (1 grey, 3 RGB, 4 RGBA),
// rows packed. Decoded files keep their rows top first; images made with
// ilTexImage are taken as bottom row first, as DevIL takes them, which only
// matters when they are saved.
struct Image {
  ILuint width = 1, height = 1;
  int channels = 3;
  ILenum origin = IL_ORIGIN_LOWER_LEFT;
  std::vector<ILubyte> pixels = std::vector<ILubyte>(3, 0);
};

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

void SetError(ILenum error) {
  std::vector<ILenum>& errors = Lib().errors;
  if (errors.size() == 32) errors.erase(errors.begin());
  errors.push_back(error);
}

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

// Room for width × height × channels bytes; false (IL_OUT_OF_MEMORY) when
// the count overflows or the memory is not there.
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

// ---- JPEG -------------------------------------------------------------------

struct JpegErrors {
  jpeg_error_mgr manager;
  std::jmp_buf escape;
};

[[noreturn]] void JpegFail(j_common_ptr info) { std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->escape, 1); }

// A file that ends before its end-of-image marker is refused, not padded
// with grey: a cut-off photograph is a damaged install, and DevIL refuses it
// too. Other warnings pass, as they do there.
void JpegMessage(j_common_ptr info, int level) {
  if (level < 0 && info->err->msg_code == JWRN_JPEG_EOF) JpegFail(info);
}

// Decodes with libjpeg's default settings (accurate integer IDCT, smooth
// chroma upsampling), the ones DevIL leaves in place: grey stays one channel,
// everything else becomes RGB.
bool DecodeJpeg(const std::vector<ILubyte>& bytes, Image* out) {
  jpeg_decompress_struct info;
  JpegErrors errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JpegFail;
  errors.manager.emit_message = JpegMessage;
  Image image;
  if (setjmp(errors.escape)) {
    jpeg_destroy_decompress(&info);
    SetError(IL_FILE_READ_ERROR);
    SetError(IL_LIB_JPEG_ERROR);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  if (info.jpeg_color_space != JCS_GRAYSCALE) info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  if (!Allocate(&image, info.output_width, info.output_height, info.output_components)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  const std::size_t stride = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.channels);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = image.pixels.data() + stride * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  image.origin = IL_ORIGIN_UPPER_LEFT;
  *out = std::move(image);
  return true;
}

bool EncodeJpeg(const Image& image, FILE* file) {
  jpeg_compress_struct info;
  JpegErrors errors;
  info.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JpegFail;
  if (setjmp(errors.escape)) {
    jpeg_destroy_compress(&info);
    return false;
  }
  jpeg_create_compress(&info);
  jpeg_stdio_dest(&info, file);
  info.image_width = image.width;
  info.image_height = image.height;
  info.input_components = image.channels;
  info.in_color_space = image.channels == 1 ? JCS_GRAYSCALE : image.channels == 3 ? JCS_RGB : JCS_EXT_RGBX;
  jpeg_set_defaults(&info);
  jpeg_set_quality(&info, 99, TRUE);
  jpeg_start_compress(&info, TRUE);
  const std::size_t stride = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.channels);
  while (info.next_scanline < info.image_height) {
    const ILuint row = image.origin == IL_ORIGIN_LOWER_LEFT ? image.height - 1 - info.next_scanline : info.next_scanline;
    JSAMPROW data = const_cast<ILubyte*>(image.pixels.data() + stride * row);
    jpeg_write_scanlines(&info, &data, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  return true;
}

// ---- PNG --------------------------------------------------------------------

struct PngSource {
  const std::vector<ILubyte>* bytes;
  std::size_t at;
};

void PngRead(png_structp png, png_bytep data, png_size_t length) {
  auto* source = static_cast<PngSource*>(png_get_io_ptr(png));
  if (length > source->bytes->size() - source->at) png_error(png, "file ends early");
  std::memcpy(data, source->bytes->data() + source->at, length);
  source->at += length;
}

void PngWarning(png_structp, png_const_charp) {}

// Every PNG becomes 8-bit RGBA: palettes and low bit depths expanded,
// transparency keys turned into alpha, 16-bit samples cut to their high
// byte, grey copied into R, G and B, and an opaque alpha where none is given.
bool DecodePng(const std::vector<ILubyte>& bytes, Image* out) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    SetError(IL_OUT_OF_MEMORY);
    return false;
  }
  Image image;
  PngSource source{&bytes, 0};
  std::vector<png_bytep> rows;
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    SetError(IL_LIB_PNG_ERROR);
    return false;
  }
  png_set_read_fn(png, &source, PngRead);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_strip_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != static_cast<png_size_t>(png_get_image_width(png, info)) * 4)
    png_error(png, "unexpected row layout");
  if (!Allocate(&image, png_get_image_width(png, info), png_get_image_height(png, info), 4)) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  rows.resize(image.height);
  for (ILuint y = 0; y < image.height; ++y) rows[y] = image.pixels.data() + static_cast<std::size_t>(image.width) * 4 * y;
  png_read_image(png, rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  image.origin = IL_ORIGIN_UPPER_LEFT;
  *out = std::move(image);
  return true;
}

bool EncodePng(const Image& image, FILE* file) {
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, PngWarning);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  std::vector<png_bytep> rows(image.height);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file);
  const int colour = image.channels == 1 ? PNG_COLOR_TYPE_GRAY : image.channels == 3 ? PNG_COLOR_TYPE_RGB
                                                                                     : PNG_COLOR_TYPE_RGB_ALPHA;
  png_set_IHDR(png, info, image.width, image.height, 8, colour, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  const std::size_t stride = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.channels);
  for (ILuint y = 0; y < image.height; ++y) {
    const ILuint row = image.origin == IL_ORIGIN_LOWER_LEFT ? image.height - 1 - y : y;
    rows[y] = const_cast<ILubyte*>(image.pixels.data() + stride * row);
  }
  png_write_info(png, info);
  png_write_image(png, rows.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

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
    case FileType::Jpeg: return DecodeJpeg(bytes, &Bound()) ? IL_TRUE : IL_FALSE;
    case FileType::Png: return DecodePng(bytes, &Bound()) ? IL_TRUE : IL_FALSE;
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
