// The Windows video backend: Win32 windows, WGL contexts, the thread's message
// queue, display modes through EnumDisplaySettingsW / ChangeDisplaySettingsW,
// MessageBoxA, and dialogs from the program's resources (win32_dialog.h).
//
// Every window of the backend belongs to the class "Sorvane", registered once
// per process. The class's window procedure is a thin forwarder: it maps the
// HWND to its `Window` and hands the message, unchanged, to the procedure
// registered with `RegisterWindowClass` (the demo's `MainWindowProc`).
//
// Unlike the Linux backend there is no signal handling: a GUI program on
// Windows gets no terminal signals, and the system puts a mode set with
// CDS_FULLSCREEN back when the process ends. `Shutdown` still puts it back at
// once, so a caller that goes on after it (a test) finds the desktop as it was.
//
// What a full-screen program owes the desktop is done in the default
// handling of the window's messages (`DefaultWindowProc`), which the demo's
// procedure hands every message it does not handle: when another program
// takes the focus (Alt-Tab, a notification, a click on a second monitor) a
// full-screen window that switched the display mode is minimised, without
// activating any other window, and the desktop's mode put back; activated
// again, it switches back and covers the screen. When the system puts the
// desktop's mode back under a demo that kept the focus (the lock screen,
// Ctrl+Alt+Del and UAC prompts are other desktops, and leave their own mode
// behind), the demo's mode is switched again as soon as the display or the
// session says so. Nothing pauses meanwhile.
//
// From the moment a demo window is shown until the desktop is given back
// (`LeaveFullscreen`, `Shutdown`) or an error box is shown, the display and
// the system are held awake, windowed or full screen (the piece takes no
// input for minutes): a display-required power request, as video players
// hold, and the thread's execution state for systems without one; the
// window refuses the screen saver and the monitor's power-down.
#include <GL/glew.h>
#include <GL/wglew.h>
#include <windows.h>
// After windows.h, which it needs.
#include <wtsapi32.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/video/win32_dialog.h"
#include "platform/video/win32_resources.h"

// On laptops with two GPUs the drivers give a program that exports these the
// fast one rather than the integrated one.
extern "C" {
__declspec(dllexport) DWORD NvOptimusEnablement = 1;
__declspec(dllexport) int AmdPowerXpressRequestHighPerformance = 1;
}

static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40);
static_assert(sizeof(DEVMODEW) == 220);

namespace platform {

class Win32Video;

struct Window {
  Win32Video* owner = nullptr;
  HWND hwnd = nullptr;
  HDC dc = nullptr;
  HGLRC context = nullptr;
  PIXELFORMATDESCRIPTOR request{};  // what ChooseSurfaceFormat was asked for
  WindowSpec spec;
};

namespace {

constexpr wchar_t kClassName[] = L"Sorvane";
constexpr wchar_t kProbeClassName[] = L"SorvaneProbe";
// Marks the restore this backend posts once it is activated again, so that
// one that comes after the focus has gone once more is known for stale.
constexpr LPARAM kOwnRestore = 0x534f5256;

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

// The request of ChoosePixelFormat: a double-buffered RGBA window surface of
// the asked colour depth with a depth buffer; 24 accumulation-alpha bits are
// asked for as the demo always has, though nothing reads that buffer.
PIXELFORMATDESCRIPTOR PixelFormatRequest(const SurfaceFormat& format) {
  PIXELFORMATDESCRIPTOR pfd{};
  pfd.nSize = sizeof pfd;
  pfd.nVersion = 1;
  pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  pfd.iPixelType = PFD_TYPE_RGBA;
  pfd.cColorBits = static_cast<BYTE>(format.colorBits & 0xFF);
  pfd.cAccumAlphaBits = 24;
  pfd.cDepthBits = static_cast<BYTE>(format.depthBits & 0xFF);
  pfd.iLayerType = PFD_MAIN_PLANE;
  return pfd;
}

// A multisampled format for `dc`, or 0. Multisampled formats are only listed
// by WGL_ARB_pixel_format, whose entry points exist only while a context is
// current: a throwaway window of a plain format lends one for the query.
int ChooseMultisampleFormat(HDC dc, const SurfaceFormat& format) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  static bool probeRegistered = false;
  if (!probeRegistered) {
    WNDCLASSW probe{};
    probe.style = CS_OWNDC;
    probe.lpfnWndProc = DefWindowProcW;
    probe.hInstance = instance;
    probe.lpszClassName = kProbeClassName;
    probeRegistered = RegisterClassW(&probe) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    if (!probeRegistered) return 0;
  }
  HWND probeWindow = CreateWindowExW(0, kProbeClassName, L"", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, instance, nullptr);
  if (!probeWindow) return 0;
  HDC probeDc = GetDC(probeWindow);
  const PIXELFORMATDESCRIPTOR plain = PixelFormatRequest({format.colorBits, format.depthBits, 0});
  const int plainIndex = ChoosePixelFormat(probeDc, &plain);
  HGLRC probeContext = nullptr;
  if (plainIndex != 0 && SetPixelFormat(probeDc, plainIndex, &plain)) probeContext = wglCreateContext(probeDc);

  int chosen = 0;
  HGLRC previousContext = wglGetCurrentContext();
  HDC previousDc = wglGetCurrentDC();
  if (probeContext && wglMakeCurrent(probeDc, probeContext)) {
    auto extensionsOf = reinterpret_cast<PFNWGLGETEXTENSIONSSTRINGARBPROC>(
        reinterpret_cast<void*>(wglGetProcAddress("wglGetExtensionsStringARB")));
    auto choose = reinterpret_cast<PFNWGLCHOOSEPIXELFORMATARBPROC>(
        reinterpret_cast<void*>(wglGetProcAddress("wglChoosePixelFormatARB")));
    std::string extensions = " ";
    if (extensionsOf) extensions.append(extensionsOf(probeDc)).append(" ");
    if (choose && extensions.find(" WGL_ARB_pixel_format ") != std::string::npos &&
        extensions.find(" WGL_ARB_multisample ") != std::string::npos) {
      // Colour bits count red, green and blue only, and each value is a
      // minimum; the accumulation buffer is left out, since a minimum of 24
      // alpha bits there would rule out most multisampled formats.
      const int attributes[] = {
          WGL_DRAW_TO_WINDOW_ARB, GL_TRUE,
          WGL_SUPPORT_OPENGL_ARB, GL_TRUE,
          WGL_DOUBLE_BUFFER_ARB, GL_TRUE,
          WGL_PIXEL_TYPE_ARB, WGL_TYPE_RGBA_ARB,
          WGL_COLOR_BITS_ARB, format.colorBits >= 24 ? 24 : format.colorBits,
          WGL_DEPTH_BITS_ARB, format.depthBits,
          WGL_SAMPLE_BUFFERS_ARB, 1,
          WGL_SAMPLES_ARB, format.samples,
          0,
      };
      UINT count = 0;
      int index = 0;
      if (choose(dc, attributes, nullptr, 1, &index, &count) && count > 0) chosen = index;
    }
  }
  wglMakeCurrent(previousDc, previousContext);
  if (probeContext) wglDeleteContext(probeContext);
  ReleaseDC(probeWindow, probeDc);
  DestroyWindow(probeWindow);
  return chosen;
}

}  // namespace

class Win32Video final : public Video {
 public:
  ~Win32Video() override { Shutdown(); }

  bool RegisterWindowClass(WindowProc procedure) override {
    if (!EnsureClass()) return false;
    procedure_ = procedure;
    return true;
  }

  bool GetDisplayMode(int index, DisplayMode* mode) override {
    if (index < 0) return false;
    DEVMODEW dm{};
    dm.dmSize = sizeof dm;
    if (!EnumDisplaySettingsW(nullptr, static_cast<DWORD>(index), &dm)) return false;
    *mode = {static_cast<int>(dm.dmPelsWidth), static_cast<int>(dm.dmPelsHeight), static_cast<int>(dm.dmBitsPerPel),
             static_cast<int>(dm.dmDisplayFrequency)};
    return true;
  }

  bool SwitchDisplayMode(int width, int height, int bits) override {
    // No refresh rate: the system keeps or picks one for the size.
    DEVMODEW dm{};
    dm.dmSize = sizeof dm;
    dm.dmPelsWidth = static_cast<DWORD>(width);
    dm.dmPelsHeight = static_cast<DWORD>(height);
    dm.dmBitsPerPel = static_cast<DWORD>(bits);
    dm.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    if (ChangeDisplaySettingsW(&dm, CDS_FULLSCREEN) != DISP_CHANGE_SUCCESSFUL) return false;
    modeSwitched_ = true;
    modeYielded_ = false;
    switchedMode_ = dm;
    return true;
  }

  ScreenSize GetScreenSize() override { return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)}; }

  Window* OpenWindow(const WindowSpec& spec) override {
    if (spec.width <= 0 || spec.height <= 0 || !EnsureClass()) return nullptr;
    const DWORD exStyle = spec.fullscreen ? WS_EX_APPWINDOW : WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
    const DWORD style = spec.fullscreen ? WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN
                                        : WS_OVERLAPPEDWINDOW | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
    HWND hwnd = CreateWindowExW(exStyle, kClassName, Widen(spec.title).c_str(), style, spec.x, spec.y, spec.width,
                                spec.height, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    if (!hwnd) return nullptr;
    auto* window = new Window;
    window->owner = this;
    window->hwnd = hwnd;
    window->spec = spec;
    windows_.push_back(window);
    SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    return window;
  }

  Window* GetDrawable(Window* window) override {
    if (!window || !window->hwnd) return nullptr;
    if (!window->dc) window->dc = GetDC(window->hwnd);
    return window->dc ? window : nullptr;
  }

  ScreenSize GetDrawableSize(Window* drawable) override {
    RECT client{};
    if (!drawable || IsIconic(drawable->hwnd) || !GetClientRect(drawable->hwnd, &client)) return {};
    return {client.right - client.left, client.bottom - client.top};
  }

  int ChooseSurfaceFormat(Window* drawable, const SurfaceFormat& format) override {
    if (!drawable || !drawable->dc) return 0;
    drawable->request = PixelFormatRequest(format);
    if (format.samples > 1) {
      // Falls back to the plain request when the driver offers none.
      if (const int index = ChooseMultisampleFormat(drawable->dc, format)) return index;
    }
    return ChoosePixelFormat(drawable->dc, &drawable->request);
  }

  bool ApplySurfaceFormat(Window* drawable, int formatIndex) override {
    return drawable && drawable->dc && formatIndex > 0 && SetPixelFormat(drawable->dc, formatIndex, &drawable->request);
  }

  bool CreateContext(Window* drawable) override {
    if (!drawable || !drawable->dc) return false;
    if (!drawable->context) drawable->context = wglCreateContext(drawable->dc);
    return drawable->context != nullptr;
  }

  bool MakeCurrent(Window* drawable) override {
    return drawable && drawable->context && wglMakeCurrent(drawable->dc, drawable->context);
  }

  void Show(Window* window) override {
    if (!window || window->spec.hidden) return;
    ShowWindow(window->hwnd, SW_SHOW);
    if (window->spec.fullscreen) WTSRegisterSessionNotification(window->hwnd, NOTIFY_FOR_THIS_SESSION);
    HoldAwake();
  }

  void Focus(Window* window) override {
    if (!window || window->spec.hidden) return;
    SetForegroundWindow(window->hwnd);
    SetFocus(window->hwnd);
  }

  void HideCursor() override { ShowCursor(FALSE); }

  // GLEW's flags and entry points are those of the current context, read by
  // the caller's glewInit.
  bool HasSwapControl() override { return WGLEW_EXT_swap_control && wglSwapIntervalEXT; }
  void SetSwapInterval(int interval) override {
    if (wglSwapIntervalEXT) wglSwapIntervalEXT(interval);
  }

  bool PollMessage(Message* message) override {
    MSG msg;
    if (!PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) return false;
    last_ = msg;
    haveLast_ = true;
    *message = {Find(msg.hwnd), msg.message, msg.wParam, msg.lParam};
    return true;
  }

  intptr_t Dispatch(const Message& m) override {
    // The message just polled goes out as it came (its time, cursor position
    // and window, ours or not); any other is rebuilt from its four fields.
    MSG msg{};
    if (haveLast_ && last_.message == m.message && last_.wParam == m.wParam && last_.lParam == m.lParam &&
        Find(last_.hwnd) == m.window) {
      msg = last_;
    } else {
      msg.hwnd = m.window ? m.window->hwnd : nullptr;
      msg.message = m.message;
      msg.wParam = m.wParam;
      msg.lParam = m.lParam;
    }
    haveLast_ = false;
    TranslateMessage(&msg);
    return DispatchMessageW(&msg);
  }

  void PostQuit(int exitCode) override { PostQuitMessage(exitCode); }

  intptr_t DefaultWindowProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    const bool shown = window && !window->spec.hidden;
    const bool fullscreen = shown && window->spec.fullscreen;
    const WPARAM command = wParam & 0xFFF0;
    if (fullscreen && message == WM_ACTIVATEAPP) Activated(window, wParam != FALSE);
    if (fullscreen && (message == WM_DISPLAYCHANGE ||
                       (message == WM_WTSSESSION_CHANGE && (wParam == WTS_SESSION_UNLOCK || wParam == WTS_CONSOLE_CONNECT))))
      Reclaim(window);
    if (message == WM_SYSCOMMAND) {
      // The screen saver, and the monitor going to low power or off (-1
      // turns it on, which stands).
      if (shown && (command == SC_SCREENSAVE || (command == SC_MONITORPOWER && lParam != -1))) return 0;
      // The restore that follows an activation: stale once the focus has gone
      // again, and never an activation of its own, which would take the
      // focus back from where the user has put it since.
      if (fullscreen && command == SC_RESTORE && lParam == kOwnRestore) {
        if (!modeYielded_) {
          ShowWindow(window->hwnd, SW_SHOWNOACTIVATE);
          Cover(window);
        }
        return 0;
      }
    }
    const LRESULT result = DefWindowProcW(window ? window->hwnd : nullptr, message, wParam, lParam);
    // Restored by the user (from the taskbar, Alt-Tab): over the whole
    // screen again.
    if (fullscreen && message == WM_SYSCOMMAND && command == SC_RESTORE) Cover(window);
    return result;
  }

  void Present(Window* drawable) override {
    if (drawable && drawable->dc) SwapBuffers(drawable->dc);
  }

  void LeaveFullscreen() override {
    for (Window* w : windows_)
      if (w->spec.fullscreen) ShowWindow(w->hwnd, SW_HIDE);
    RestoreDesktop();
    // The cursor is shown while its display count is 0 or more; HideCursor
    // took it below.
    while (ShowCursor(TRUE) < 0) {
    }
  }

  void ShowErrorBox(const char* caption, const char* text) override {
    // Whoever reads the box may walk away from it.
    ReleaseAwake();
    MessageBoxA(nullptr, text, caption, MB_SYSTEMMODAL | MB_ICONERROR);
  }

  // Windows programs carry their dialogs as resources; the one this program
  // shows is the settings dialog, built from the same layout as `tmpl`.
  intptr_t RunDialog(const DialogTemplate&, DialogProc procedure) override {
    return RunWin32Dialog(SORVANE_SETTINGS_DIALOG, procedure);
  }

  void Shutdown() override {
    // A window that is going away is the system's business, not the demo's.
    procedure_ = nullptr;
    for (Window* w : windows_) {
      if (w->context) {
        if (wglGetCurrentContext() == w->context) wglMakeCurrent(nullptr, nullptr);
        wglDeleteContext(w->context);
      }
      if (w->dc) ReleaseDC(w->hwnd, w->dc);
      if (w->spec.fullscreen) WTSUnRegisterSessionNotification(w->hwnd);
      DestroyWindow(w->hwnd);
      delete w;
    }
    windows_.clear();
    haveLast_ = false;
    RestoreDesktop();
  }

  // What the system sends while it creates a window takes the default path:
  // the procedure meets a window once OpenWindow has handed it out (a demo
  // procedure defaults those messages anyway, and one that answers 0 to
  // everything would otherwise refuse WM_NCCREATE).
  static LRESULT CALLBACK ClassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* window = reinterpret_cast<Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (window && window->owner->procedure_) return window->owner->procedure_(window, message, wParam, lParam);
    return DefWindowProcW(hwnd, message, wParam, lParam);
  }

 private:
  // The class outlives any one backend object: registered by the first that
  // needs it, for the rest of the process.
  static bool EnsureClass() {
    static bool registered = false;
    if (registered) return true;
    WNDCLASSW wc{};
    wc.style = CS_VREDRAW | CS_HREDRAW | CS_OWNDC;
    wc.lpfnWndProc = ClassProc;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512));  // IDC_ARROW
    wc.lpszClassName = kClassName;
    registered = RegisterClassW(&wc) != 0;
    return registered;
  }

  // The desktop as the user left it: its own display mode, and the display
  // free to sleep.
  void RestoreDesktop() {
    const bool giveBack = modeSwitched_ && !modeYielded_;
    modeSwitched_ = modeYielded_ = appActive_ = false;
    if (giveBack) ChangeDisplaySettingsW(nullptr, 0);
    ReleaseAwake();
  }

  void HoldAwake() {
    SetThreadExecutionState(ES_CONTINUOUS | ES_DISPLAY_REQUIRED | ES_SYSTEM_REQUIRED);
    if (powerRequest_) return;
    REASON_CONTEXT reason{};
    reason.Version = POWER_REQUEST_CONTEXT_VERSION;
    reason.Flags = POWER_REQUEST_CONTEXT_SIMPLE_STRING;
    reason.Reason.SimpleReasonString = const_cast<LPWSTR>(L"Playing a demo");
    powerRequest_ = PowerCreateRequest(&reason);
    if (powerRequest_ == INVALID_HANDLE_VALUE) powerRequest_ = nullptr;
    if (!powerRequest_) return;
    PowerSetRequest(powerRequest_, PowerRequestDisplayRequired);
    PowerSetRequest(powerRequest_, PowerRequestSystemRequired);
  }

  void ReleaseAwake() {
    if (powerRequest_) {
      PowerClearRequest(powerRequest_, PowerRequestDisplayRequired);
      PowerClearRequest(powerRequest_, PowerRequestSystemRequired);
      CloseHandle(powerRequest_);
      powerRequest_ = nullptr;
    }
    SetThreadExecutionState(ES_CONTINUOUS);
  }

  // A full-screen window losing or regaining the focus to another program.
  // Only a switched mode is given back: at the desktop's own size there is
  // nothing to give, and the window stays as it is. Each state is set before
  // the mode changes, since the change sends WM_DISPLAYCHANGE at once.
  void Activated(Window* window, bool active) {
    appActive_ = active;
    if (!modeSwitched_ || active != modeYielded_) return;
    if (!active) {
      modeYielded_ = true;
      // Minimised without activating another window: the focus is where the
      // user put it.
      ShowWindow(window->hwnd, SW_SHOWMINNOACTIVE);
      ChangeDisplaySettingsW(nullptr, 0);
      return;
    }
    modeYielded_ = false;
    if (ChangeDisplaySettingsW(&switchedMode_, CDS_FULLSCREEN) != DISP_CHANGE_SUCCESSFUL) {
      modeYielded_ = true;
      return;
    }
    // Restored once the activation is over: a window is not restored from
    // inside it.
    PostMessageW(window->hwnd, WM_SYSCOMMAND, SC_RESTORE, kOwnRestore);
  }

  // The display's mode changed, or the user came back to the session, while
  // the demo holds the focus: where the system left the desktop's mode (or
  // any other), the demo's is switched again.
  void Reclaim(Window* window) {
    if (!modeSwitched_ || modeYielded_ || !appActive_) return;
    DEVMODEW current{};
    current.dmSize = sizeof current;
    if (EnumDisplaySettingsW(nullptr, ENUM_CURRENT_SETTINGS, &current) &&
        current.dmPelsWidth == switchedMode_.dmPelsWidth && current.dmPelsHeight == switchedMode_.dmPelsHeight)
      return;
    if (ChangeDisplaySettingsW(&switchedMode_, CDS_FULLSCREEN) == DISP_CHANGE_SUCCESSFUL) Cover(window);
  }

  // A full-screen window over the whole screen, on top, its activation left
  // as it is.
  static void Cover(Window* window) {
    SetWindowPos(window->hwnd, HWND_TOP, 0, 0, window->spec.width, window->spec.height, SWP_SHOWWINDOW | SWP_NOACTIVATE);
  }

  Window* Find(HWND hwnd) const {
    for (Window* w : windows_)
      if (w->hwnd == hwnd) return w;
    return nullptr;
  }

  WindowProc procedure_ = nullptr;
  std::vector<Window*> windows_;
  bool modeSwitched_ = false;
  bool modeYielded_ = false;  // the desktop's mode given back while another program has the focus
  bool appActive_ = false;    // a window of this program has the focus
  HANDLE powerRequest_ = nullptr;
  DEVMODEW switchedMode_{};
  MSG last_{};
  bool haveLast_ = false;
};

std::unique_ptr<Video> CreateWin32Video() { return std::make_unique<Win32Video>(); }

}  // namespace platform
