#include "tools/capture/capture.h"

#include <GL/glew.h>
#include <IL/il.h>
#include <png.h>

#include <cstdio>
#include <cstring>

#include "effects/effects.h"
#include "effects/frame.h"
#include "gpu/texture.h"
#include "platform/platform.h"

struct FrameRenderer::Impl {
  std::unique_ptr<platform::Video> video = platform::CreateDesktopVideo();
  GLuint framebuffer = 0, colour = 0;
  int width = 0, height = 0;
  fAbs abs;
  fMask mask;
};

FrameRenderer::FrameRenderer() = default;
FrameRenderer::~FrameRenderer() = default;

bool FrameRenderer::Open(int width, int height, bool letterbox) {
  impl_ = std::make_unique<Impl>();
  Impl& m = *impl_;
  if (!platform::OpenHiddenGlWindow(*m.video, "sorvane-capture", 64, 64)) {
    error_ = "cannot open a hidden window with an OpenGL context (is DISPLAY set? try xvfb-run)";
    return false;
  }
  glewInit();
  if (!GLEW_ARB_shader_objects || !GLEW_ARB_fragment_shader || !GLEW_EXT_framebuffer_object) {
    error_ = "the OpenGL driver lacks shader objects or framebuffer objects";
    return false;
  }
  GLint maxSize = 0;
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE_EXT, &maxSize);
  if (width > maxSize || height > maxSize) {
    error_ = "size " + std::to_string(width) + "x" + std::to_string(height) + " exceeds the driver's limit of " +
             std::to_string(maxSize);
    return false;
  }
  glGenFramebuffersEXT(1, &m.framebuffer);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, m.framebuffer);
  glGenRenderbuffersEXT(1, &m.colour);
  glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, m.colour);
  glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_RGBA8, width, height);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT, m.colour);
  if (glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) != GL_FRAMEBUFFER_COMPLETE_EXT) {
    error_ = "cannot make an off-screen framebuffer of " + std::to_string(width) + "x" + std::to_string(height);
    return false;
  }
  m.width = width;
  m.height = height;
  const Viewport strip = letterbox ? LetterboxViewport(width, height) : Viewport{0, 0, width, height};
  glViewport(strip.x, strip.y, strip.width, strip.height);
  SetFixedGlState();
  ilInit();
  try {
    m.abs.init();
    m.mask.init();
  } catch (const ResourceError& e) {
    error_ = e.what();
    return false;
  }
  return true;
}

void FrameRenderer::Render(double time, CaptureFrame& frame, Layers layers) {
  Impl& m = *impl_;
  DrawFrame(time, m.abs, layers == Layers::Both ? &m.mask : nullptr);
  frame.width = m.width;
  frame.height = m.height;
  frame.rgb.resize(static_cast<size_t>(m.width) * m.height * 3);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, m.width, m.height, GL_RGB, GL_UNSIGNED_BYTE, frame.rgb.data());
  // The GL's rows run bottom to top; pictures run top to bottom.
  const size_t row = static_cast<size_t>(m.width) * 3;
  std::vector<uint8_t> swap(row);
  for (int y = 0; y < m.height / 2; ++y) {
    uint8_t* a = frame.rgb.data() + row * y;
    uint8_t* b = frame.rgb.data() + row * (m.height - 1 - y);
    std::memcpy(swap.data(), a, row);
    std::memcpy(a, b, row);
    std::memcpy(b, swap.data(), row);
  }
  lastGlError_ = glGetError();
}

bool WritePng(const std::string& path, const CaptureFrame& frame) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  bool ok = png && info;
  if (ok && setjmp(png_jmpbuf(png)) == 0) {
    png_init_io(png, f);
    png_set_IHDR(png, info, static_cast<png_uint_32>(frame.width), static_cast<png_uint_32>(frame.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < frame.height; ++y)
      png_write_row(png, frame.rgb.data() + static_cast<size_t>(y) * frame.width * 3);
    png_write_end(png, info);
  } else {
    ok = false;
  }
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0 && ok;
}
