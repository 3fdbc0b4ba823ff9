// The one place that picks the desktop video backend for this build, and the
// one way to open a hidden GL window on it.
#include "platform/platform.h"

namespace platform {

std::unique_ptr<Video> CreateDesktopVideo() {
#if defined(_WIN32)
  return CreateWin32Video();
#elif defined(__EMSCRIPTEN__)
  return CreateWebVideo();
#else
  return CreateSdlVideo();
#endif
}

Window* OpenHiddenGlWindow(Video& video, const std::string& title, int width, int height) {
  if (!video.RegisterWindowClass([](Window*, uint32_t, uintptr_t, intptr_t) -> intptr_t { return 0; })) return nullptr;
  WindowSpec spec;
  spec.title = title;
  spec.width = width;
  spec.height = height;
  spec.hidden = true;
  // The drawable takes a pixel format before a context can be made for it
  // (Windows); where the window fixed its format already the steps agree.
  Window* window = video.OpenWindow(spec);
  Window* drawable = window ? video.GetDrawable(window) : nullptr;
  const int formatIndex = drawable ? video.ChooseSurfaceFormat(drawable, spec.format) : 0;
  if (!drawable || formatIndex == 0 || !video.ApplySurfaceFormat(drawable, formatIndex) ||
      !video.CreateContext(drawable) || !video.MakeCurrent(drawable))
    return nullptr;
  return drawable;
}

}  // namespace platform
