// The desktop video backend: SDL2 for windows, GL contexts, events and
// display modes, on a Wayland compositor where one answers (its own EGL
// surfaces, drawn at the screen's own pixels when the screen is scaled),
// else on X11; FLTK for dialogs and message boxes, on X11 (XWayland on a
// Wayland desktop).
//
// A Wayland compositor, and XWayland for X11 programs, only pretends the
// display modes it lists: nothing is switched, so full screen there covers
// the screen at the desktop's own size, and the shell draws the chosen size
// off screen and scales it (shell/layout.cpp).
#include <GL/glew.h>
#include <GL/glxew.h>
#include <SDL.h>

#include <X11/extensions/Xrandr.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/platform.h"
#include "platform/video/signals.h"
#include "platform/video/fltk_dialog.h"

namespace platform {

struct Window {
  SDL_Window* sdl = nullptr;
  SDL_GLContext context = nullptr;
  WindowSpec spec;
  int samples = 0;  // the multisampling the window's visual was made with
};

namespace {

uintptr_t VirtualKey(const SDL_Keysym& key) {
  const SDL_Keycode k = key.sym;
  if (k == SDLK_ESCAPE) return kKeyEscape;
  if (k == SDLK_RETURN || k == SDLK_KP_ENTER) return kKeyReturn;
  if (k == SDLK_SPACE) return kKeySpace;
  if (k >= SDLK_a && k <= SDLK_z) return static_cast<uintptr_t>('A' + (k - SDLK_a));
  if (k >= SDLK_0 && k <= SDLK_9) return static_cast<uintptr_t>(k);
  return 0x80 + (static_cast<uintptr_t>(key.scancode) & 0x7F);
}

class SdlVideo final : public Video {
 public:
  ~SdlVideo() override { Shutdown(); }

  bool RegisterWindowClass(WindowProc procedure) override {
    if (!StartVideo()) return false;
    procedure_ = procedure;
    return true;
  }

  bool GetDisplayMode(int index, DisplayMode* mode) override {
    if (!StartVideo() || index < 0) return false;
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, index, &m) != 0) return false;
    *mode = {m.w, m.h, static_cast<int>(SDL_BYTESPERPIXEL(m.format)) * 8, m.refresh_rate};
    return true;
  }

  bool SwitchDisplayMode(int width, int height, int bits) override {
    // Nothing is switched where the modes are only pretended: any size is
    // drawn off screen and scaled, listed or not (a compositor lists no
    // emulated mode larger than its screen, and the defaults must play on a
    // 1366 × 768 laptop too).
    if (StartVideo() && modesPretended_) return width > 0 && height > 0;
    DisplayMode mode;
    for (int i = 0; GetDisplayMode(i, &mode); ++i) {
      if (mode.width == width && mode.height == height && mode.bits == bits) {
        // SDL switches the display when the full-screen window is made, and
        // switches it back when its video subsystem shuts down.
        SDL_GetDisplayMode(0, i, &fullscreenMode_);
        modeSwitched_ = true;
        return true;
      }
    }
    return false;
  }

  ScreenSize GetScreenSize() override {
    if (modeSwitched_) return {fullscreenMode_.w, fullscreenMode_.h};
    SDL_DisplayMode m;
    if (!StartVideo() || SDL_GetCurrentDisplayMode(0, &m) != 0) return {0, 0};
    return {m.w, m.h};
  }

  Window* OpenWindow(const WindowSpec& spec) override {
    if (!StartVideo() || spec.width <= 0 || spec.height <= 0) return nullptr;
    auto* window = new Window{nullptr, nullptr, spec, 0};
    if (!MakeSdlWindow(*window) && !(FallBackToX11("its window") && MakeSdlWindow(*window))) {
      delete window;
      return nullptr;
    }
    windows_.push_back(window);
    return window;
  }

  Window* GetDrawable(Window* window) override { return window; }

  ScreenSize GetDrawableSize(Window* drawable) override {
    ScreenSize size;
    if (drawable && !(SDL_GetWindowFlags(drawable->sdl) & SDL_WINDOW_MINIMIZED))
      SDL_GL_GetDrawableSize(drawable->sdl, &size.width, &size.height);
    return size;
  }

  // The visual was fixed when the window was made from the same format, so
  // these only confirm that the window is a GL window.
  int ChooseSurfaceFormat(Window* drawable, const SurfaceFormat&) override {
    return drawable && (SDL_GetWindowFlags(drawable->sdl) & SDL_WINDOW_OPENGL) ? 1 : 0;
  }
  bool ApplySurfaceFormat(Window* drawable, int formatIndex) override { return drawable && formatIndex == 1; }

  bool CreateContext(Window* drawable) override {
    if (!drawable || !drawable->sdl) return false;
    // The context's framebuffer configuration is chosen from the attributes
    // in force now: they must be the ones the window's visual was made with.
    SetGlAttributes(drawable->spec.format, drawable->samples);
    drawable->context = SDL_GL_CreateContext(drawable->sdl);
    if (!drawable->context && FallBackToX11("its GL context")) {
      SetGlAttributes(drawable->spec.format, drawable->samples);
      drawable->context = SDL_GL_CreateContext(drawable->sdl);
    }
    return drawable->context != nullptr;
  }

  bool MakeCurrent(Window* drawable) override {
    return drawable && drawable->context && SDL_GL_MakeCurrent(drawable->sdl, drawable->context) == 0;
  }

  void Show(Window* window) override {
    if (!window || window->spec.hidden) return;
    SDL_ShowWindow(window->sdl);
    if (window->spec.fullscreen) return;
    // SDL sizes and places the client area; the frame is known once the
    // window manager has framed the window. Make the OUTER rectangle the one
    // that was asked for.
    int top = 0, left = 0, bottom = 0, right = 0;
    SDL_PumpEvents();
    if (SDL_GetWindowBordersSize(window->sdl, &top, &left, &bottom, &right) == 0 && (top | left | bottom | right)) {
      const WindowSpec& s = window->spec;
      SDL_SetWindowSize(window->sdl, std::max(1, s.width - left - right), std::max(1, s.height - top - bottom));
      SDL_SetWindowPosition(window->sdl, s.x + left, s.y + top);
    }
  }

  void Focus(Window* window) override {
    if (!window || window->spec.hidden) return;
    SDL_RaiseWindow(window->sdl);
    SDL_SetWindowInputFocus(window->sdl);
  }

  void HideCursor() override { SDL_ShowCursor(SDL_DISABLE); }

  // EGL always has a swap interval; GLX says so in its extensions.
  bool HasSwapControl() override {
    return wayland_ || GLXEW_EXT_swap_control || GLXEW_MESA_swap_control || GLXEW_SGI_swap_control;
  }
  void SetSwapInterval(int interval) override { SDL_GL_SetSwapInterval(interval); }

  bool PollMessage(Message* message) override {
    if (!windows_.empty() && TakeCloseSignal()) {
      *message = {windows_.front(), kMsgClose, 0, 0};
      return true;
    }
    if (started_) {
      SDL_Event event;
      while (SDL_PollEvent(&event)) {
        if (Translate(event, message)) return true;
      }
    }
    if (quitPending_) {
      quitPending_ = false;
      *message = {nullptr, kMsgQuit, static_cast<uintptr_t>(quitCode_), 0};
      return true;
    }
    return false;
  }

  intptr_t Dispatch(const Message& m) override {
    if (!m.window || !procedure_) return 0;
    return procedure_(m.window, m.message, m.wParam, m.lParam);
  }

  void PostQuit(int exitCode) override {
    quitPending_ = true;
    quitCode_ = exitCode;
  }

  intptr_t DefaultWindowProc(Window*, uint32_t, uintptr_t, intptr_t) override { return 0; }

  void Present(Window* drawable) override {
    if (drawable) SDL_GL_SwapWindow(drawable->sdl);
  }

  void LeaveFullscreen() override {
    if (!started_) return;
    // Hiding a full-screen window puts the desktop's mode back.
    for (Window* w : windows_)
      if (w->spec.fullscreen) SDL_HideWindow(w->sdl);
    modeSwitched_ = false;
    SDL_ShowCursor(SDL_ENABLE);
  }

  // FLTK's box rather than SDL's: its loop is ours to end when a close
  // signal comes. Where no X11 display shows it, stderr says why.
  void ShowErrorBox(const char* caption, const char* text) override {
    if (ShowFltkErrorBox(caption, text)) return;
    std::fprintf(stderr, "sorvane: %s: %s (%s)\n", caption, text,
                 StartVideo() && wayland_ ? "the box needs X11, which this Wayland desktop does not run (XWayland)"
                              : "no display to show it: the demo needs a Wayland desktop or an X11 display, "
                                "and neither WAYLAND_DISPLAY nor DISPLAY answers");
  }

  // The dialog is drawn on X11 only: a Wayland desktop without XWayland
  // gets none, and the demo starts with the default settings.
  intptr_t RunDialog(const DialogTemplate& tmpl, DialogProc procedure) override {
    const intptr_t result = RunFltkDialog(tmpl, procedure);
    if (result == -1 && StartVideo() && wayland_)
      std::fprintf(stderr, "sorvane: the settings dialog needs X11, which this Wayland desktop does not run "
                           "(XWayland): playing with the default settings\n");
    return result;
  }

  void Shutdown() override {
    if (!started_) return;
    for (Window* w : windows_) {
      if (w->context) SDL_GL_DeleteContext(w->context);
      SDL_DestroyWindow(w->sdl);
      delete w;
    }
    windows_.clear();
    modeSwitched_ = false;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    started_ = false;
  }

 private:
  // Makes the SDL window of `window` from its spec on the video driver in
  // use, multisampled where asked and the driver offers it.
  bool MakeSdlWindow(Window& window) {
    const WindowSpec& spec = window.spec;
    // High-DPI: on a scaled Wayland screen the drawable has the screen's
    // pixels (X11 has no such scaling; the flag changes nothing there).
    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN | SDL_WINDOW_ALLOW_HIGHDPI;
    if (spec.fullscreen) flags |= (modeSwitched_ ? SDL_WINDOW_FULLSCREEN : SDL_WINDOW_FULLSCREEN_DESKTOP) | SDL_WINDOW_BORDERLESS;
    SDL_Window* sdl = nullptr;
    int samples = spec.format.samples > 1 ? spec.format.samples : 0;
    if (samples > 0) {
      SetGlAttributes(spec.format, samples);
      sdl = SDL_CreateWindow(spec.title.c_str(), spec.x, spec.y, spec.width, spec.height, flags);
      // A driver without multisampled visuals: fall back to none, silently.
      if (!sdl) samples = 0;
    }
    if (!sdl) {
      SetGlAttributes(spec.format, 0);
      sdl = SDL_CreateWindow(spec.title.c_str(), spec.x, spec.y, spec.width, spec.height, flags);
    }
    if (!sdl) return false;
    if (spec.fullscreen && modeSwitched_) SDL_SetWindowDisplayMode(sdl, &fullscreenMode_);
    // SDL minimises a full-screen window that loses the focus and puts the
    // desktop's mode back meanwhile: what a window that switched the mode
    // owes the desktop. One at the desktop's own size has nothing to give
    // back and stays.
    SDL_SetHint(SDL_HINT_VIDEO_MINIMIZE_ON_FOCUS_LOSS, spec.fullscreen && SwitchesTheMode() ? "1" : "0");
    window.sdl = sdl;
    window.samples = samples;
    return true;
  }

  // A driver without Wayland EGL (or a compositor that refuses the surface)
  // leaves the demo without its window or context on Wayland, where X11's
  // GLX through XWayland may still work: SDL itself keeps X11 first for
  // that reason. The video is started again on X11, every window made so
  // far unmade (the caller makes them anew), and stderr says why. False
  // where that cannot help: not on Wayland, no X display, or the user's
  // SDL_VIDEODRIVER keeps Wayland.
  bool FallBackToX11(const char* what) {
    const char* display = std::getenv("DISPLAY");
    if (!started_ || !wayland_ || !display || !*display) return false;
    std::fprintf(stderr, "sorvane: this Wayland desktop could not make the demo %s (%s): playing through X11 (XWayland)\n",
                 what, SDL_GetError());
    for (Window* w : windows_) {
      if (w->context) SDL_GL_DeleteContext(w->context);
      if (w->sdl) SDL_DestroyWindow(w->sdl);
      w->context = nullptr;
      w->sdl = nullptr;
    }
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0 || std::strcmp(SDL_GetCurrentVideoDriver(), "x11") != 0) return false;
    wayland_ = false;
    modesPretended_ = modesPretended_ || XServerIsXWayland();
    for (Window* w : windows_)
      if (!MakeSdlWindow(*w)) return false;
    return true;
  }

  static void SetGlAttributes(const SurfaceFormat& format, int samples) {
    const bool sixteen = format.colorBits <= 16;
    SDL_GL_ResetAttributes();
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, sixteen ? 5 : 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, sixteen ? 6 : 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, sixteen ? 5 : 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, format.depthBits);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 1);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLEBUFFERS, samples > 0 ? 1 : 0);
    SDL_GL_SetAttribute(SDL_GL_MULTISAMPLESAMPLES, samples);
  }

  bool StartVideo() {
    if (started_) return true;
    // A Wayland compositor's own surfaces on a Wayland desktop: sharp on a
    // scaled screen. GLEW's GLX build loads the GL entry points on an EGL
    // context too (only its GLX part fails there, and start-up does not look
    // at glewInit's result). Elsewhere X11 alone is asked for (asking a
    // desktop without Wayland for it prints libwayland's complaints).
    // SDL_VIDEODRIVER, where the user set it, still decides. Signals are
    // ours, not SDL's.
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    SDL_SetHint(SDL_HINT_VIDEODRIVER, wayland && *wayland ? "wayland,x11" : "x11");
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    wayland_ = std::strcmp(SDL_GetCurrentVideoDriver(), "wayland") == 0;
    modesPretended_ = wayland_ || XServerIsXWayland();
    InstallCloseSignals();
    started_ = true;
    return true;
  }

  // XWayland pretends its modes to X11 programs and never changes the
  // output. It says so itself: with its own extension (Xwayland 23.1 on,
  // where outputs take the compositor's names), or with the RandR output
  // property it marks emulation with (22.1 on); older ones only name their
  // outputs XWAYLAND0, XWAYLAND1, ….
  static bool XServerIsXWayland() {
    ::Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    int opcode = 0, event = 0, error = 0;
    bool xwayland = XQueryExtension(display, "XWAYLAND", &opcode, &event, &error);
    const Atom emulation = XInternAtom(display, "RANDR Emulation", True);
    XRRScreenResources* screen = xwayland ? nullptr : XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display));
    for (int i = 0; screen && i < screen->noutput && !xwayland; ++i) {
      if (emulation != None) {
        int count = 0;
        if (Atom* properties = XRRListOutputProperties(display, screen->outputs[i], &count)) {
          xwayland = std::find(properties, properties + count, emulation) != properties + count;
          XFree(properties);
        }
      }
      if (XRROutputInfo* output = XRRGetOutputInfo(display, screen, screen->outputs[i])) {
        xwayland = xwayland || std::strncmp(output->name, "XWAYLAND", 8) == 0;
        XRRFreeOutputInfo(output);
      }
    }
    if (screen) XRRFreeScreenResources(screen);
    XCloseDisplay(display);
    return xwayland;
  }

  // Whether the full-screen mode asked for is other than the desktop's.
  bool SwitchesTheMode() {
    SDL_DisplayMode desktop;
    return modeSwitched_ && SDL_GetDesktopDisplayMode(0, &desktop) == 0 &&
           (desktop.w != fullscreenMode_.w || desktop.h != fullscreenMode_.h);
  }

  // A window manager maps a minimised window again when it is activated,
  // and SDL switches the mode back then; where the focus comes back to a
  // window that was never unmapped (no window manager, or one that does not
  // iconify), full screen is entered afresh so that it does.
  void TakeTheModeAgain(Window* window) {
    SDL_DisplayMode now;
    if (!window || !window->spec.fullscreen || !SwitchesTheMode() || SDL_GetCurrentDisplayMode(0, &now) != 0 ||
        (now.w == fullscreenMode_.w && now.h == fullscreenMode_.h))
      return;
    SDL_SetWindowFullscreen(window->sdl, 0);
    SDL_SetWindowFullscreen(window->sdl, SDL_WINDOW_FULLSCREEN);
  }

  Window* FindWindow(Uint32 windowId) {
    for (Window* w : windows_)
      if (SDL_GetWindowID(w->sdl) == windowId) return w;
    return windows_.empty() ? nullptr : windows_.front();
  }

  bool Translate(const SDL_Event& e, Message* m) {
    switch (e.type) {
      case SDL_KEYDOWN:
      case SDL_KEYUP: {
        const bool alt = (e.key.keysym.mod & KMOD_ALT) != 0;
        const uint32_t msg = e.type == SDL_KEYDOWN ? (alt ? kMsgSysKeyDown : kMsgKeyDown) : (alt ? kMsgSysKeyUp : kMsgKeyUp);
        *m = {FindWindow(e.key.windowID), msg, VirtualKey(e.key.keysym), e.key.repeat ? 1 : 0};
        return m->window != nullptr;
      }
      case SDL_WINDOWEVENT:
        if (e.window.event == SDL_WINDOWEVENT_FOCUS_GAINED) TakeTheModeAgain(FindWindow(e.window.windowID));
        if (e.window.event != SDL_WINDOWEVENT_CLOSE) return false;
        *m = {FindWindow(e.window.windowID), kMsgClose, 0, 0};
        return m->window != nullptr;
      case SDL_QUIT:
        if (windows_.empty()) return false;
        *m = {windows_.front(), kMsgClose, 0, 0};
        return true;
      default:
        return false;
    }
  }

  bool started_ = false;
  WindowProc procedure_ = nullptr;
  std::vector<Window*> windows_;
  SDL_DisplayMode fullscreenMode_{};
  bool modeSwitched_ = false;
  bool wayland_ = false;         // on a Wayland compositor's own surfaces
  bool modesPretended_ = false;  // the display's modes never change it (Wayland, XWayland)
  bool quitPending_ = false;
  int quitCode_ = 0;
};

}  // namespace

std::unique_ptr<Video> CreateSdlVideo() { return std::make_unique<SdlVideo>(); }

}  // namespace platform
