#include "tools/assetgen/image.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>

#include <jpeglib.h>

namespace sorvane::assetgen {
namespace {

// libjpeg reports fatal errors through error_exit, which by default ends the
// process; this one jumps back into EncodeJpeg with the message kept.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
  unsigned char* buffer;  // owned by libjpeg's memory destination until freed here
  unsigned long size;
};

void OnError(j_common_ptr info) {
  auto* err = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, err->message);
  std::longjmp(err->jump, 1);
}

void OnMessage(j_common_ptr, int) {}  // warnings and traces stay quiet

}  // namespace

std::vector<uint8_t> EncodeJpeg(const RgbImage& image, int quality) {
  jpeg_compress_struct cinfo{};
  ErrorManager err{};
  cinfo.err = jpeg_std_error(&err.base);
  err.base.error_exit = OnError;
  err.base.emit_message = OnMessage;
  // No object with a destructor lives between setjmp and the last libjpeg
  // call, and everything libjpeg changes is reached through err or cinfo.
  if (setjmp(err.jump)) {
    jpeg_destroy_compress(&cinfo);
    std::free(err.buffer);
    throw std::runtime_error(std::string("JPEG encoder error: ") + err.message);
  }
  jpeg_create_compress(&cinfo);
  jpeg_mem_dest(&cinfo, &err.buffer, &err.size);
  cinfo.image_width = JDIMENSION(image.width);
  cinfo.image_height = JDIMENSION(image.height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  for (int c = 0; c < cinfo.num_components; ++c) {
    cinfo.comp_info[c].h_samp_factor = 1;
    cinfo.comp_info[c].v_samp_factor = 1;
  }
  cinfo.dct_method = JDCT_ISLOW;
  cinfo.optimize_coding = TRUE;
  jpeg_start_compress(&cinfo, TRUE);
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(image.At(0, int(cinfo.next_scanline)));
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::vector<uint8_t> bytes(err.buffer, err.buffer + err.size);
  std::free(err.buffer);
  return bytes;
}

}  // namespace sorvane::assetgen
