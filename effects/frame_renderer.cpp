#include "effects/frame_renderer.h"

#include <GL/glew.h>
#include <IL/il.h>

#include <cstring>

#include "effects/picture.h"
#include "gpu/offscreen.h"
#include "gpu/texture.h"
#include "platform/platform.h"

struct FrameRenderer::Impl {
  // The target's GL names go while the hidden window's context is current.
  ~Impl() { target.Release(); }
  std::unique_ptr<platform::Video> video = platform::CreateDesktopVideo();
  OffscreenTarget target;
  int width = 0, height = 0;
  Picture picture;
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
  if (!m.target.Create(width, height)) {
    error_ = "cannot make an off-screen framebuffer of " + std::to_string(width) + "x" + std::to_string(height);
    return false;
  }
  m.width = width;
  m.height = height;
  m.target.Bind();
  const Viewport strip = letterbox ? LetterboxViewport(width, height) : Viewport{0, 0, width, height};
  glViewport(strip.x, strip.y, strip.width, strip.height);
  SetFixedGlState();
  ilInit();
  try {
    m.picture.Start();
  } catch (const ResourceError& e) {
    error_ = e.what();
    return false;
  }
  return true;
}

void FrameRenderer::Render(double time, CaptureFrame& frame, Layers layers) {
  Impl& m = *impl_;
  m.picture.Draw(time, layers == Layers::Both ? kLayerCount : 1);
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
