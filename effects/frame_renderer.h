// frame_renderer.h — the demo's frames rendered off screen, at any size and
// time.
//
// What it is for: videos of the demo and every check of its picture need a
// frame at a known time, not whatever the music clock says. `FrameRenderer`
// starts the demo's picture (picture.h) from the same files as the demo (the
// working directory is the run folder) in a hidden window's GL context and
// draws it into an off-screen target of its own size, so nothing depends on
// a screen or a clock: time is an argument. The capture tool, the contact
// sheet, the sync report and the frame benchmark all render through it.
//
// How to use it: `Open` once (it loads shaders and images), then `Render`
// any number of times.
//
// How it fails: `Open` returns false with a one-line reason in `error()`: no
// display, no GL with shaders and framebuffers, or an image that cannot be
// loaded. `Render` cannot fail once open.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct CaptureFrame {
  int width = 0, height = 0;
  std::vector<uint8_t> rgb;  // rows top to bottom, 3 bytes a pixel
};

enum class Layers { Both, ReliefOnly };

class FrameRenderer {
 public:
  FrameRenderer();
  ~FrameRenderer();
  // width × height is the picture. With `letterbox` it is a whole window
  // and the strip sits in its letterbox viewport, black above and below;
  // without, the picture is the strip itself (use 2:1 sizes).
  bool Open(int width, int height, bool letterbox);
  void Render(double time, CaptureFrame& frame, Layers layers = Layers::Both);
  // glGetError after the last Render (GL_NO_ERROR: none).
  unsigned lastGlError() const { return lastGlError_; }
  const std::string& error() const { return error_; }

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string error_;
  unsigned lastGlError_ = 0;
};
