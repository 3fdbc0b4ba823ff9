// codecs.h — what ilcompat.cpp's images are made of, and the file formats
// behind them: one file per way of decoding, chosen by the build.
//
//   codecs_libjpeg.cpp   libjpeg-turbo and libpng (the Windows build)
//   codecs_browser.cpp   the browser's own decoders (the browser build)
//
// Each decoder fills `out` and returns true, or pushes an IL error
// (IL_LIB_JPEG_ERROR, IL_LIB_PNG_ERROR, IL_OUT_OF_MEMORY) and returns false,
// leaving `out` as it was. The encoders write the whole file or return false.
#pragma once

#include <cstdio>
#include <vector>

#include "IL/il.h"

namespace ilcompat {

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

// Pushes an error onto the stack ilGetError pops.
void SetError(ILenum error);
// Room for width × height × channels bytes; false (IL_OUT_OF_MEMORY) when
// the count overflows or the memory is not there.
bool Allocate(Image* image, unsigned long width, unsigned long height, int channels);

// `path` names the file the bytes were read from, for a decoder that may
// have started on it already (the browser's).
bool DecodeJpeg(const char* path, const std::vector<ILubyte>& bytes, Image* out);
bool DecodePng(const char* path, const std::vector<ILubyte>& bytes, Image* out);
bool EncodeJpeg(const Image& image, std::FILE* file);
bool EncodePng(const Image& image, std::FILE* file);

}  // namespace ilcompat
