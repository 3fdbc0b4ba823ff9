// texture.h — GL textures loaded from image files.
//
// LoadTexture(name) decodes the file with DevIL (the library picks the
// decoder), converts it to 8-bit RGBA and uploads it at its own size as a
// GL_RGBA8 texture with linear filtering and the default repeat wrapping; the
// first image row becomes texture row t = 0. LoadReliefTexture does the same
// for the stone photograph (data/files.h) with the normal map of
// normal_map.h computed in between.
//
// How to use it: a current GL context and ilInit() first. The returned handle
// is the caller's and is never released; the new texture is left bound to
// GL_TEXTURE_2D of the active unit. Each load leaves no DevIL image behind.
//
// How it fails: an image that cannot be loaded (missing, unreadable, not
// decodable, a size DevIL reports as 0 or negative, an RGBA size beyond
// 2^31 − 1 bytes, or no memory for its pixels) throws ResourceError, whose
// message names the file and the cause. No handle is produced and nothing is
// leaked except the generated GL texture name. Start-up treats it as its one
// failure.
#pragma once

#include <GL/glew.h>

#include <cstddef>
#include <stdexcept>

struct TextureHandle {
  GLuint glName;
};

class ResourceError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

TextureHandle* LoadTexture(const char* fileName);

// The normal map of the stone photograph from the working directory.
TextureHandle* LoadReliefTexture();

// The byte count of a width × height RGBA8 buffer, or 0 when either side is 0
// or negative or the count exceeds 2^31 − 1.
std::size_t RgbaByteCount(long width, long height);

// What a JPEG or PNG file's header declares, read without decoding: the
// decoder allocates from these numbers before it reads any pixel, and DevIL
// forms its byte count in 32 bits, so a header declaring 40000 × 40000 would
// wrap round to a small buffer that the decoder then overruns. Loads refuse
// such files from the header alone. `decodedBytesPerPixel` is what the
// decoder holds per pixel before conversion (components × bytes per sample).
struct DeclaredImageSize {
  long width = 0, height = 0;
  int decodedBytesPerPixel = 0;
};
// False for other formats and for headers too short or too odd to read
// (the decoder then judges the file itself).
bool ReadDeclaredImageSize(const char* fileName, DeclaredImageSize* size);
