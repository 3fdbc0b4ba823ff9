// Where the picture goes in the demo window, kept true to the window as it
// is rather than as it was asked for.
//
// Start-up lays the strip out once, for the size asked for, in the screen's
// units. Three things make that wrong: a drawable with more pixels than the
// screen has units (a window on a scaled screen), a window manager resizing
// the window (a frame, tiling, a maximise, a display change), and full
// screen on a display whose modes are only pretended (a Wayland compositor,
// XWayland), where the window covers the screen at the desktop's own size.
// So the drawable's size is read before every frame, and wherever it is not
// the size the strip was laid out for, the strip is laid out for the
// drawable as it is; where a full-screen window is not the size chosen, the
// picture is drawn at the chosen size off screen and scaled into the
// window's letterbox, as a switched display would have shown it. Where the
// drawable is the size asked (a real mode switch, an unscaled unframed
// window) the one-time layout stands.
#include <GL/glew.h>

#include "effects/picture.h"
#include "shell/shell.h"

void StartLayout(int32_t width, int32_t height, bool fullscreen, int samples) {
  DemoLayout = PictureLayout();
  DemoLayout.drawable = DemoVideo->GetDrawableSize(DemoDC);
  const bool asked = DemoLayout.drawable.width == width && DemoLayout.drawable.height == height;
  if (asked && samples == 0) return;
  // A display that only pretends its modes left the full-screen window at
  // its own size: the chosen size is drawn off screen and scaled. Where the
  // multisampling box asked for samples, they are the picture's; a driver
  // without multisampled targets draws it without, as a window's surface
  // falls back.
  const Viewport strip = LetterboxViewport(width, height);
  if (fullscreen && GLEW_EXT_framebuffer_blit &&
      (DemoLayout.offscreen.Create(strip.width, strip.height, samples) ||
       (samples > 0 && !asked && DemoLayout.offscreen.Create(strip.width, strip.height))))
    return;
  if (asked) return;
  // Start-up laid the strip out for the size asked, in the screen's units;
  // the drawable's pixels can outnumber them (a scaled screen) or the window
  // had to take another size (a frame, a tiling window manager): the first
  // frame lays the strip out for the drawable as it is. Without framebuffer
  // objects a full-screen picture is drawn at the window's size that way.
  DemoLayout.drawable = {};
}

void LayOutFrame() {
  const platform::ScreenSize now = DemoVideo->GetDrawableSize(DemoDC);
  // A minimised window has no size to lay out for.
  const bool changed = now.width > 0 && now.height > 0 &&
                       (now.width != DemoLayout.drawable.width || now.height != DemoLayout.drawable.height);
  if (changed) DemoLayout.drawable = now;
  if (DemoLayout.offscreen.Created()) {
    DemoLayout.offscreen.Bind();
  } else if (changed) {
    const Viewport vp = LetterboxViewport(now.width, now.height);
    glViewport(vp.x, vp.y, vp.width, vp.height);
  }
}

void ShowFrame() {
  if (!DemoLayout.offscreen.Created()) return;
  const Viewport vp = LetterboxViewport(DemoLayout.drawable.width, DemoLayout.drawable.height);
  DemoLayout.offscreen.ScaleInto(vp.x, vp.y, vp.width, vp.height);
}
