// The file formats on the browser's own decoders: the browser build ships
// no JPEG or PNG decoder of its own (a smaller download, and the browser's
// decoder is the same libjpeg-turbo, with the same accurate IDCT and smooth
// chroma upsampling). The browser decodes asynchronously; the program waits
// for it (the build's asynchronous calls, as the frame loop waits for the
// next animation frame).
#include <emscripten.h>

#include <algorithm>
#include <cstdlib>

#include "codecs.h"

namespace ilcompat {

namespace {

// Decodes `size` bytes of an image of MIME type `type` with the browser,
// without colour management or premultiplied alpha; writes the width and
// height and returns RGBA pixels in memory the caller frees, or 0 where the
// browser refuses the data.
EM_ASYNC_JS(unsigned char*, BrowserDecode, (const unsigned char* bytes, int size, const char* type, int* width,
                                            int* height),
            {
  try {
    const blob = new Blob([HEAPU8.slice(bytes, bytes + size)], {type: UTF8ToString(type)});
    const bitmap = await createImageBitmap(blob, {colorSpaceConversion: 'none', premultiplyAlpha: 'none'});
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    const context = canvas.getContext('2d', {colorSpace: 'srgb'});
    context.drawImage(bitmap, 0, 0);
    const pixels = context.getImageData(0, 0, bitmap.width, bitmap.height).data;
    const out = _malloc(pixels.length);
    if (!out) return 0;
    HEAPU8.set(pixels, out);
    HEAP32[width >> 2] = bitmap.width;
    HEAP32[height >> 2] = bitmap.height;
    bitmap.close();
    return out;
  } catch (e) {
    return 0;
  }
});

bool Decode(const std::vector<ILubyte>& bytes, const char* type, ILenum failure, Image* out) {
  int width = 0, height = 0;
  unsigned char* rgba = BrowserDecode(bytes.data(), static_cast<int>(bytes.size()), type, &width, &height);
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

bool DecodeJpeg(const std::vector<ILubyte>& bytes, Image* out) {
  return Decode(bytes, "image/jpeg", IL_LIB_JPEG_ERROR, out);
}

bool DecodePng(const std::vector<ILubyte>& bytes, Image* out) { return Decode(bytes, "image/png", IL_LIB_PNG_ERROR, out); }

// The browser build writes no images: the demo only reads them.
bool EncodeJpeg(const Image&, std::FILE*) { return false; }
bool EncodePng(const Image&, std::FILE*) { return false; }

}  // namespace ilcompat
