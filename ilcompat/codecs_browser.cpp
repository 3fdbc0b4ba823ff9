// The file formats on the browser's own decoders: the browser build ships
// no JPEG or PNG decoder of its own (a smaller download, and the browser's
// decoder is the same libjpeg-turbo, with the same accurate IDCT and smooth
// chroma upsampling). The browser decodes asynchronously, most often before
// the program asks (page.js); the program waits for it as the frame loop
// waits for the next animation frame.
#include <emscripten.h>

#include <algorithm>
#include <cstdlib>

#include "codecs.h"

namespace ilcompat {

namespace {

// Decodes the `size` bytes read from `path`, of MIME type `type`, with the
// browser (page.js: decoded, which takes a decode started when the file
// arrived); writes the width and height and returns RGBA pixels in memory
// the caller frees, or 0 where the browser refuses the data.
EM_ASYNC_JS(unsigned char*, BrowserDecode, (const char* path, const unsigned char* bytes, int size, const char* type,
                                            int* width, int* height),
            {
  const file = PATH_FS.resolve(UTF8ToString(path));
  try {
    const image = await Module.sorvane.decoded(file, HEAPU8.subarray(bytes, bytes + size), UTF8ToString(type));
    const out = _malloc(image.pixels.length);
    if (!out) return 0;
    HEAPU8.set(image.pixels, out);
    HEAP32[width >> 2] = image.width;
    HEAP32[height >> 2] = image.height;
    return out;
  } catch (e) {
    Module.sorvane.problem('This browser could not decode the image ' + file + '.');
    return 0;
  }
});

bool Decode(const char* path, const std::vector<ILubyte>& bytes, const char* type, ILenum failure, Image* out) {
  int width = 0, height = 0;
  unsigned char* rgba = BrowserDecode(path, bytes.data(), static_cast<int>(bytes.size()), type, &width, &height);
  if (!rgba) {
    SetError(failure);
    return false;
  }
  Image image;
  const bool made = Allocate(&image, static_cast<unsigned long>(width), static_cast<unsigned long>(height), 4);
  if (made) std::copy(rgba, rgba + image.pixels.size(), image.pixels.begin());
  std::free(rgba);
  if (!made) return false;
  image.origin = IL_ORIGIN_UPPER_LEFT;
  *out = std::move(image);
  return true;
}

}  // namespace

bool DecodeJpeg(const char* path, const std::vector<ILubyte>& bytes, Image* out) {
  return Decode(path, bytes, "image/jpeg", IL_LIB_JPEG_ERROR, out);
}

bool DecodePng(const char* path, const std::vector<ILubyte>& bytes, Image* out) {
  return Decode(path, bytes, "image/png", IL_LIB_PNG_ERROR, out);
}

// The browser build writes no images: the demo only reads them.
bool EncodeJpeg(const Image&, std::FILE*) { return false; }
bool EncodePng(const Image&, std::FILE*) { return false; }

}  // namespace ilcompat
