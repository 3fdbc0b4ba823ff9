// The browser's video backend: the page's canvas as the demo's window, a
// WebGL 1 context as its GL, the page's keys and full-screen changes as its
// messages, the page's own form as the settings dialog, and the page's
// panel as the message box. The page's elements and the wing's shared state
// are set up by page.js.
//
// The window is the canvas; its drawing buffer is the size chosen in the
// form, shown at that many device pixels where the page (or the screen, in
// full screen) has room, else scaled down to fit, centred. A canvas opened
// at the page's own size follows the page as its size changes, as a window
// follows its window manager. Full screen is the Fullscreen API on the
// page's stage: any size is accepted, as on a display whose modes are only
// pretended; leaving full screen (the browser's own Escape) closes the demo
// window, since the browser keeps that key from the page.
//
// The frame loop runs on the browser's animation frames: `Present` returns
// at the next one, so a frame is drawn each time the page is painted and
// none while the tab is hidden.
#include <emscripten.h>
#include <emscripten/html5.h>

#include <string>

#include "platform/platform.h"

namespace platform {

namespace {

// Sizes the page's and the screen's device pixels hold.
EM_JS(void, WebPageSize, (int* width, int* height), {
  const stage = Module.sorvane.stage, ratio = window.devicePixelRatio || 1;
  HEAP32[width >> 2] = Math.round(stage.clientWidth * ratio);
  HEAP32[height >> 2] = Math.round(stage.clientHeight * ratio);
});

EM_JS(void, WebScreenSize, (int* width, int* height), {
  const ratio = window.devicePixelRatio || 1;
  HEAP32[width >> 2] = Math.round(screen.width * ratio);
  HEAP32[height >> 2] = Math.round(screen.height * ratio);
});

EM_JS(void, WebListen, (), {
  const s = Module.sorvane;
  if (s.listening) return;
  s.listening = true;
  s.messages = [];
  // Keys as the window procedure knows them: Return, Escape and Space by
  // their codes, letters and digits upper case, the rest 0x80 and above.
  const code = (event) => {
    const named = {Enter: 13, Escape: 27, ' ': 32};
    if (event.key in named) return named[event.key];
    if (event.key.length === 1 && /[a-z0-9]/i.test(event.key)) return event.key.toUpperCase().charCodeAt(0);
    return 0x80 + (event.keyCode & 0x7f);
  };
  window.addEventListener('keydown', (event) => {
    if (!s.windowOpen) return;
    const key = code(event);
    s.messages.push([0x0100, key]);
    // The demo's own keys do nothing else; the browser's (reload, full
    // screen, zoom) keep working.
    if (key === 13 || key === 27 || key === 32) event.preventDefault();
  });
  window.addEventListener('keyup', (event) => {
    if (s.windowOpen) s.messages.push([0x0101, code(event)]);
  });
  document.addEventListener('fullscreenchange', () => {
    if (document.fullscreenElement) return;
    if (s.windowOpen && s.fullscreen && !s.leaving) s.messages.push([0x0010, 0]);
  });
  window.addEventListener('pagehide', () => {
    if (s.windowOpen) s.messages.push([0x0010, 0]);
  });
});

EM_JS(int, WebNextMessage, (uint32_t* message, uintptr_t* wParam), {
  const next = Module.sorvane.messages.shift();
  if (!next) return 0;
  HEAPU32[message >> 2] = next[0];
  HEAPU32[wParam >> 2] = next[1];
  return 1;
});

// Sizes the canvas's drawing buffer and its box on the page: at one device
// pixel a pixel where it fits, else scaled down to fit, centred by the
// stage. A canvas that follows the page takes the page's size first.
EM_JS(void, WebFitCanvas, (int* width, int* height), {
  const s = Module.sorvane, canvas = s.canvas, stage = s.stage, ratio = window.devicePixelRatio || 1;
  if (s.follow) {
    const w = Math.max(1, Math.round(stage.clientWidth * ratio)), h = Math.max(1, Math.round(stage.clientHeight * ratio));
    if (canvas.width !== w) canvas.width = w;
    if (canvas.height !== h) canvas.height = h;
  }
  const natural = [canvas.width / ratio, canvas.height / ratio];
  const scale = Math.min(1, stage.clientWidth / natural[0], stage.clientHeight / natural[1]);
  const box = [natural[0] * scale + 'px', natural[1] * scale + 'px'];
  if (canvas.style.width !== box[0]) canvas.style.width = box[0];
  if (canvas.style.height !== box[1]) canvas.style.height = box[1];
  HEAP32[width >> 2] = canvas.width;
  HEAP32[height >> 2] = canvas.height;
});

EM_JS(void, WebOpenCanvas, (int width, int height, int fullscreen, int follow), {
  const s = Module.sorvane;
  s.canvas.width = width;
  s.canvas.height = height;
  s.fullscreen = !!fullscreen;
  s.follow = !!follow;
  s.windowOpen = true;
});

EM_JS(void, WebShow, (), {
  const s = Module.sorvane;
  s.showStage();
  s.canvas.focus();
  if (!s.fullscreen) return;
  // Asked for within the click on "Demo"; a browser that refuses plays the
  // demo in the page instead.
  const request = s.stage.requestFullscreen ? s.stage.requestFullscreen({navigationUI: 'hide'}) : Promise.reject();
  request.catch(() => {
    s.fullscreen = false;
    s.note('The browser did not let the demo take the full screen, so it plays in the page.');
  });
});

EM_JS(void, WebHideCursor, (), { Module.sorvane.canvas.style.cursor = 'none'; });

EM_ASYNC_JS(void, WebNextAnimationFrame, (), {
  const s = Module.sorvane;
  await new Promise((resolve) => requestAnimationFrame(resolve));
  s.framePresented(performance.now());
});

EM_JS(void, WebLeaveFullscreen, (), {
  const s = Module.sorvane;
  s.leaving = true;
  s.canvas.style.cursor = "";
  if (document.fullscreenElement && document.exitFullscreen) document.exitFullscreen().catch(() => {});
});

EM_JS(void, WebShowError, (const char* caption, const char* text), {
  Module.sorvane.showError(UTF8ToString(caption), UTF8ToString(text));
});

EM_JS(void, WebShutdown, (), {
  const s = Module.sorvane;
  s.windowOpen = false;
  s.showEnded();
});

EM_JS(void, WebSay, (const char* sentence), { Module.sorvane.problem(UTF8ToString(sentence)); });

// The dialog as a form on the page's panel: controls placed by their
// dialog units, each label tied to the control after it.
EM_JS(void, WebDialogBegin, (const char* caption, int width, int height), {
  Module.sorvane.dialogBegin(UTF8ToString(caption), width, height);
});

EM_JS(void, WebDialogAdd, (int id, int kind, const char* text, int x, int y, int width, int height), {
  Module.sorvane.dialogAdd(id, kind, text ? UTF8ToString(text) : "", x, y, width, height);
});

EM_ASYNC_JS(int, WebDialogWait, (int acceptId, int cancelId), {
  return await Module.sorvane.dialogWait(acceptId, cancelId);
});

EM_JS(void, WebDialogEnd, (), { Module.sorvane.dialogEnd(); });

// A list starts with nothing chosen, as the dialog's box does (a page's
// list would choose its first entry by itself).
EM_JS(void, WebDialogAddString, (int id, const char* text), {
  const list = Module.sorvane.control(id), chosen = list.dataset.chosen ? list.selectedIndex : -1;
  list.add(new Option(UTF8ToString(text)));
  list.selectedIndex = chosen;
});

EM_JS(void, WebDialogSetCurSel, (int id, int index), {
  const list = Module.sorvane.control(id);
  list.selectedIndex = index;
  list.dataset.chosen = 'yes';
});

EM_JS(int, WebDialogGetCurSel, (int id), { return Module.sorvane.control(id).selectedIndex; });

EM_JS(void, WebDialogSetCheck, (int id, int checked), { Module.sorvane.control(id).checked = !!checked; });

EM_JS(int, WebDialogGetCheck, (int id), { return Module.sorvane.control(id).checked ? 1 : 0; });

class FormHost final : public DialogHost {
 public:
  void AddString(int id, const char* text) override { WebDialogAddString(id, text); }
  void SetCurSel(int id, int index) override { WebDialogSetCurSel(id, index); }
  int GetCurSel(int id) override { return WebDialogGetCurSel(id); }
  void SetCheck(int id, bool checked) override { WebDialogSetCheck(id, checked ? 1 : 0); }
  bool GetCheck(int id) override { return WebDialogGetCheck(id) != 0; }
  void End(intptr_t result) override {
    result_ = result;
    ended_ = true;
  }
  bool ended_ = false;
  intptr_t result_ = 0;
};

// The canvas is the one window there is; its handle is a mark of its own.
Window* TheCanvas() {
  static char mark;
  return reinterpret_cast<Window*>(&mark);
}

// Modes a form can offer, after the page's and the screen's own sizes.
constexpr ScreenSize kCommonSizes[] = {{3840, 1920}, {2560, 1280}, {1920, 1080}, {1920, 960}, {1600, 800},
                                       {1280, 720},  {1280, 640},  {1024, 512},  {800, 400},   {640, 320}};

class WebVideo final : public Video {
 public:
  bool RegisterWindowClass(WindowProc procedure) override {
    procedure_ = procedure;
    WebListen();
    return true;
  }

  // The page's size first, then the screen's, then common sizes the screen
  // holds.
  bool GetDisplayMode(int index, DisplayMode* mode) override {
    ScreenSize page, screen = GetScreenSize();
    WebPageSize(&page.width, &page.height);
    ScreenSize sizes[2 + std::size(kCommonSizes)] = {page, screen};
    int count = 2;
    for (const ScreenSize& size : kCommonSizes)
      if (size.width <= screen.width && size.height <= screen.height) sizes[count++] = size;
    if (index < 0 || index >= count) return false;
    *mode = DisplayMode{sizes[index].width, sizes[index].height, 32, 60};
    return true;
  }

  bool SwitchDisplayMode(int, int, int bits) override { return bits == 32; }

  ScreenSize GetScreenSize() override {
    ScreenSize size;
    WebScreenSize(&size.width, &size.height);
    return size;
  }

  Window* OpenWindow(const WindowSpec& spec) override {
    if (spec.hidden || spec.width <= 0 || spec.height <= 0) return nullptr;
    ScreenSize page;
    WebPageSize(&page.width, &page.height);
    const bool follow = !spec.fullscreen && spec.width == page.width && spec.height == page.height;
    WebOpenCanvas(spec.width, spec.height, spec.fullscreen ? 1 : 0, follow ? 1 : 0);
    return TheCanvas();
  }

  Window* GetDrawable(Window* window) override { return window; }

  ScreenSize GetDrawableSize(Window* drawable) override {
    ScreenSize size;
    if (drawable == TheCanvas()) WebFitCanvas(&size.width, &size.height);
    return size;
  }

  int ChooseSurfaceFormat(Window* drawable, const SurfaceFormat& format) override {
    if (drawable != TheCanvas()) return 0;
    samples_ = format.samples;
    return 1;
  }

  bool ApplySurfaceFormat(Window* drawable, int formatIndex) override {
    return drawable == TheCanvas() && formatIndex == 1;
  }

  bool CreateContext(Window* drawable) override {
    if (drawable != TheCanvas()) return false;
    EmscriptenWebGLContextAttributes attributes;
    emscripten_webgl_init_context_attributes(&attributes);
    attributes.alpha = EM_FALSE;
    attributes.depth = EM_TRUE;
    attributes.stencil = EM_TRUE;
    attributes.antialias = samples_ > 1 ? EM_TRUE : EM_FALSE;
    attributes.majorVersion = 1;
    attributes.powerPreference = EM_WEBGL_POWER_PREFERENCE_HIGH_PERFORMANCE;
    context_ = emscripten_webgl_create_context("#canvas", &attributes);
    if (context_ <= 0) {
      WebSay("This browser gave the page no WebGL, which the demo draws with: WebGL may be turned off in its "
             "settings, or the graphics driver left out.");
      context_ = 0;
      return false;
    }
    return true;
  }

  bool MakeCurrent(Window* drawable) override {
    return drawable == TheCanvas() && context_ && emscripten_webgl_make_context_current(context_) == EMSCRIPTEN_RESULT_SUCCESS;
  }

  void Show(Window* window) override {
    if (window == TheCanvas()) WebShow();
  }
  void Focus(Window*) override {}
  void HideCursor() override { WebHideCursor(); }

  // Frames follow the browser's animation frames, at the display's rate.
  bool HasSwapControl() override { return false; }
  void SetSwapInterval(int) override {}

  bool PollMessage(Message* message) override {
    uint32_t number = 0;
    uintptr_t wParam = 0;
    if (WebNextMessage(&number, &wParam)) {
      *message = Message{TheCanvas(), number, wParam, 0};
      return true;
    }
    if (!quitPosted_) return false;
    quitPosted_ = false;
    *message = Message{nullptr, kMsgQuit, static_cast<uintptr_t>(exitCode_), 0};
    return true;
  }

  intptr_t Dispatch(const Message& message) override {
    if (!message.window || !procedure_) return 0;
    return procedure_(message.window, message.message, message.wParam, message.lParam);
  }

  void PostQuit(int exitCode) override {
    quitPosted_ = true;
    exitCode_ = exitCode;
  }

  intptr_t DefaultWindowProc(Window*, uint32_t, uintptr_t, intptr_t) override { return 0; }

  void Present(Window* drawable) override {
    if (drawable == TheCanvas()) WebNextAnimationFrame();
  }

  void LeaveFullscreen() override { WebLeaveFullscreen(); }

  void ShowErrorBox(const char* caption, const char* text) override {
    WebLeaveFullscreen();
    WebShowError(caption ? caption : "", text ? text : "");
    errorShown_ = true;
  }

  intptr_t RunDialog(const DialogTemplate& tmpl, DialogProc procedure) override {
    WebDialogBegin(tmpl.caption, tmpl.width, tmpl.height);
    for (int i = 0; i < tmpl.controlCount; ++i) {
      const DialogControl& c = tmpl.controls[i];
      WebDialogAdd(c.id, static_cast<int>(c.kind), c.text, c.x, c.y, c.width, c.height);
    }
    FormHost host;
    procedure(host, kDlgInit, 0, 0);
    while (!host.ended_) {
      const int id = WebDialogWait(tmpl.acceptId, tmpl.cancelId);
      procedure(host, kDlgCommand, static_cast<uintptr_t>(id & 0xFFFF), 0);
    }
    WebDialogEnd();
    return host.result_;
  }

  void Shutdown() override {
    if (shutDown_) return;
    shutDown_ = true;
    WebLeaveFullscreen();
    if (context_) emscripten_webgl_destroy_context(context_);
    context_ = 0;
    if (!errorShown_) WebShutdown();
  }

 private:
  WindowProc procedure_ = nullptr;
  EMSCRIPTEN_WEBGL_CONTEXT_HANDLE context_ = 0;
  int samples_ = 0;
  bool quitPosted_ = false;
  int exitCode_ = 0;
  bool errorShown_ = false;
  bool shutDown_ = false;
};

}  // namespace

std::unique_ptr<Video> CreateWebVideo() { return std::make_unique<WebVideo>(); }

}  // namespace platform
