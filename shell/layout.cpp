// Where the picture goes in the demo window, kept true to the window as it
// is rather than as it was asked for.
//
// Start-up lays the strip out once, for the size asked for. Two things make
// that wrong later: a window manager resizing the window (tiling, a
// maximise, a display change), and full screen on a display whose modes are
// only pretended (a Wayland compositor, XWayland), where the window covers
// the screen at the desktop's own size. So the drawable's size is read
// before every frame, and once it differs from the size at start-up the
// strip is laid out for the drawable as it is; where a full-screen window is
// not the size chosen, the picture is drawn at the chosen size off screen
// and scaled into the window's letterbox, as a switched display would have
// shown it. Where the size never changes (Windows, a real X server) the
// one-time layout stands.
#include <GL/glew.h>

#include "effects/picture.h"
#include "shell/shell.h"

void StartLayout(int32_t width, int32_t height, bool fullscreen, platform::ScreenSize screen) {
  DemoLayout = PictureLayout();
  DemoLayout.drawable = DemoVideo->GetDrawableSize(DemoDC);
  if (!fullscreen) return;
  // A display that only pretends its modes left the window at its own size.
  const Viewport strip = LetterboxViewport(width, height);
  if ((screen.width != width || screen.height != height) && GLEW_EXT_framebuffer_blit &&
      DemoLayout.offscreen.Create(strip.width, strip.height))
    return;
  // Full screen fills the drawable, whose pixels can outnumber the screen's
  // units (a scaled screen), or which had to take the screen's size: the
  // first frame lays the strip out for it. Without framebuffer objects the
  // picture is drawn at the window's size that way.
  if (DemoLayout.drawable.width != width || DemoLayout.drawable.height != height) DemoLayout.drawable = {};
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
