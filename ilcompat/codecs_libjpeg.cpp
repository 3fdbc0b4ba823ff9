// The file formats on libjpeg-turbo and libpng: the Windows build's, where
// the decoded pixels must be the ones DevIL gives on Linux.
#include "codecs.h"

// jpeglib.h needs FILE declared before it.
#include <cstdio>

#include <jpeglib.h>
#include <jerror.h>
#include <png.h>

#include <csetjmp>
#include <cstring>

namespace ilcompat {

namespace {

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
}  // namespace

bool DecodeJpeg(const char*, const std::vector<ILubyte>& bytes, Image* out) {
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

namespace {

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
}  // namespace

bool DecodePng(const char*, const std::vector<ILubyte>& bytes, Image* out) {
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

}  // namespace ilcompat
