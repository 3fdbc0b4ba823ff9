// offscreen.h — a frame drawn at one size and shown at another.
//
// What it is for: where a full-screen window cannot have the display mode
// the user chose (a Wayland compositor, XWayland: their modes are only
// pretended), the picture is still drawn at the chosen size, into this
// target, and scaled into the window's letterbox, its aspect kept, as a
// switched display would have shown it; and the off-screen renderer
// (effects/frame_renderer.h) draws and reads its frames here.
//
// How to use it: with a current GL context whose entry points GLEW has
// loaded, `Create` once with the picture's size and, for multisampling, the
// samples a pixel; per frame `Bind` (draws and the viewport then cover the
// target), draw, then read the pixels (a target without samples), or
// `ScaleInto` a rectangle of the window's framebuffer, which is bound again
// afterwards (that needs EXT_framebuffer_blit as well). A multisampled target
// is resolved to one sample a pixel at its own size first, since a
// multisampled picture cannot be scaled as it is copied. Colour is 8 bits a
// channel with a depth buffer, as the window's surface. `Release` frees the
// GL names while their context is current; the target is moved, never
// copied.
//
// How it fails: `Create` returns false, and nothing is made, where the GL
// has no framebuffer objects (EXT_framebuffer_object), no multisampled ones
// where samples are asked (EXT_framebuffer_multisample), or cannot make a
// target of that size; the caller then draws into the window directly.
#pragma once

#include <GL/glew.h>

class OffscreenTarget {
 public:
  OffscreenTarget() = default;
  OffscreenTarget(const OffscreenTarget&) = delete;
  OffscreenTarget& operator=(const OffscreenTarget&) = delete;
  OffscreenTarget(OffscreenTarget&& other) noexcept { *this = static_cast<OffscreenTarget&&>(other); }
  OffscreenTarget& operator=(OffscreenTarget&& other) noexcept;

  bool Create(int width, int height, int samples = 0);
  bool Created() const { return framebuffer_ != 0; }
  void Bind();
  // Scales the whole target into the window's framebuffer at (x, y), width ×
  // height pixels from its bottom-left corner, filtered linearly; the rest
  // of the window is cleared to black.
  void ScaleInto(int x, int y, int width, int height);
  void Release();

 private:
  // framebuffer_ is drawn into; with samples, resolved_ holds the picture
  // at one sample a pixel before it is scaled.
  GLuint framebuffer_ = 0, colour_ = 0, depth_ = 0, resolved_ = 0, resolvedColour_ = 0;
  int width_ = 0, height_ = 0, samples_ = 0;
};
