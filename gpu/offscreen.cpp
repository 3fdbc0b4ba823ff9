#include "gpu/offscreen.h"

#include <utility>

namespace {

// A framebuffer with the given colour and (where `depth` is not null) depth
// renderbuffers of `samples` a pixel; false, with nothing left made, where
// the GL will not complete it.
bool MakeFramebuffer(int width, int height, int samples, GLuint& framebuffer, GLuint& colour, GLuint* depth) {
  auto storage = [&](GLenum format) {
    if (samples > 0) glRenderbufferStorageMultisampleEXT(GL_RENDERBUFFER_EXT, samples, format, width, height);
    else glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, format, width, height);
  };
  glGenFramebuffersEXT(1, &framebuffer);
  glGenRenderbuffersEXT(1, &colour);
  glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, colour);
  storage(GL_RGBA8);
  if (depth) {
    glGenRenderbuffersEXT(1, depth);
    glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, *depth);
    storage(GL_DEPTH_COMPONENT24);
  }
  glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, 0);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT, colour);
  if (depth) glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, *depth);
  const bool complete = glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT;
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  if (complete) return true;
  glDeleteFramebuffersEXT(1, &framebuffer);
  glDeleteRenderbuffersEXT(1, &colour);
  if (depth) {
    glDeleteRenderbuffersEXT(1, depth);
    *depth = 0;
  }
  framebuffer = colour = 0;
  return false;
}

}  // namespace

OffscreenTarget& OffscreenTarget::operator=(OffscreenTarget&& other) noexcept {
  std::swap(framebuffer_, other.framebuffer_);
  std::swap(colour_, other.colour_);
  std::swap(depth_, other.depth_);
  std::swap(resolved_, other.resolved_);
  std::swap(resolvedColour_, other.resolvedColour_);
  std::swap(width_, other.width_);
  std::swap(height_, other.height_);
  std::swap(samples_, other.samples_);
  return *this;
}

bool OffscreenTarget::Create(int width, int height, int samples) {
  if (framebuffer_ || width <= 0 || height <= 0 || samples < 0 || !GLEW_EXT_framebuffer_object) return false;
  if (samples > 0 && (!GLEW_EXT_framebuffer_multisample || !GLEW_EXT_framebuffer_blit)) return false;
  GLint largest = 0, most = 0;
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE_EXT, &largest);
  if (samples > 0) glGetIntegerv(GL_MAX_SAMPLES_EXT, &most);
  if (width > largest || height > largest || samples > most) return false;
  if (!MakeFramebuffer(width, height, samples, framebuffer_, colour_, &depth_)) return false;
  if (samples > 0 && !MakeFramebuffer(width, height, 0, resolved_, resolvedColour_, nullptr)) {
    Release();
    return false;
  }
  width_ = width;
  height_ = height;
  samples_ = samples;
  return true;
}

void OffscreenTarget::Bind() {
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer_);
  glViewport(0, 0, width_, height_);
}

void OffscreenTarget::ScaleInto(int x, int y, int width, int height) {
  GLuint source = framebuffer_;
  if (resolved_) {
    glBindFramebufferEXT(GL_READ_FRAMEBUFFER_EXT, framebuffer_);
    glBindFramebufferEXT(GL_DRAW_FRAMEBUFFER_EXT, resolved_);
    glBlitFramebufferEXT(0, 0, width_, height_, 0, 0, width_, height_, GL_COLOR_BUFFER_BIT, GL_NEAREST);
    source = resolved_;
  }
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  glBindFramebufferEXT(GL_READ_FRAMEBUFFER_EXT, source);
  glBlitFramebufferEXT(0, 0, width_, height_, x, y, x + width, y + height, GL_COLOR_BUFFER_BIT, GL_LINEAR);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
}

void OffscreenTarget::Release() {
  if (framebuffer_) glDeleteFramebuffersEXT(1, &framebuffer_);
  if (resolved_) glDeleteFramebuffersEXT(1, &resolved_);
  const GLuint renderbuffers[] = {colour_, depth_, resolvedColour_};
  for (GLuint name : renderbuffers)
    if (name) glDeleteRenderbuffersEXT(1, &name);
  *this = OffscreenTarget();
}
