#include "gpu/offscreen.h"

bool OffscreenTarget::Create(int width, int height) {
  if (framebuffer_ || width <= 0 || height <= 0 || !GLEW_EXT_framebuffer_object) return false;
  GLint largest = 0;
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE_EXT, &largest);
  if (width > largest || height > largest) return false;
  glGenFramebuffersEXT(1, &framebuffer_);
  glGenRenderbuffersEXT(1, &colour_);
  glGenRenderbuffersEXT(1, &depth_);
  glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, colour_);
  glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_RGBA8, width, height);
  glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, depth_);
  glRenderbufferStorageEXT(GL_RENDERBUFFER_EXT, GL_DEPTH_COMPONENT24, width, height);
  glBindRenderbufferEXT(GL_RENDERBUFFER_EXT, 0);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer_);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_COLOR_ATTACHMENT0_EXT, GL_RENDERBUFFER_EXT, colour_);
  glFramebufferRenderbufferEXT(GL_FRAMEBUFFER_EXT, GL_DEPTH_ATTACHMENT_EXT, GL_RENDERBUFFER_EXT, depth_);
  const bool complete = glCheckFramebufferStatusEXT(GL_FRAMEBUFFER_EXT) == GL_FRAMEBUFFER_COMPLETE_EXT;
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  if (!complete) {
    glDeleteFramebuffersEXT(1, &framebuffer_);
    glDeleteRenderbuffersEXT(1, &colour_);
    glDeleteRenderbuffersEXT(1, &depth_);
    framebuffer_ = colour_ = depth_ = 0;
    return false;
  }
  width_ = width;
  height_ = height;
  return true;
}

void OffscreenTarget::Bind() {
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, framebuffer_);
  glViewport(0, 0, width_, height_);
}

void OffscreenTarget::ScaleInto(int x, int y, int width, int height) {
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  glBindFramebufferEXT(GL_READ_FRAMEBUFFER_EXT, framebuffer_);
  glBlitFramebufferEXT(0, 0, width_, height_, x, y, x + width, y + height, GL_COLOR_BUFFER_BIT, GL_LINEAR);
  glBindFramebufferEXT(GL_FRAMEBUFFER_EXT, 0);
}
