// win32_windows.h — finding and driving Win32 windows from tests, the way a
// user's keys and clicks reach them.
//
// What it is for: the Windows tests watch dialogs, message boxes and the demo
// window appear (in their own process or in a demo process they started),
// read their controls back, and answer them. Keys are posted as WM_KEYDOWN /
// WM_KEYUP to the window with the keyboard focus of the window's thread, so
// they pass through that thread's message loop exactly as typed keys do (the
// dialog manager turns Return into the default button, Escape into IDCANCEL).
//
// How to use it: `WaitForWindow(match, limit)` polls the top-level windows
// until one matches or the limit passes (never a single fixed sleep);
// `Controls(dialog)` lists a dialog's children in creation order, which is
// their tab order; `PressKey(window, VK_RETURN)` types into its thread.
//
// How it fails: a wait that runs out returns null; the tests then fail with
// what they were waiting for.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace win32test {

using namespace std::chrono_literals;

inline std::wstring ClassOf(HWND window) {
  wchar_t name[256] = {};
  GetClassNameW(window, name, 256);
  return name;
}

inline std::wstring TextOf(HWND window) {
  wchar_t text[1024] = {};
  // WM_GETTEXT, not GetWindowTextW: it also reads controls of another process.
  SendMessageTimeoutW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG, 2000, nullptr);
  return text;
}

inline std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += c < 128 ? static_cast<char>(c) : '?';
  return out;
}

// The first visible top-level window that `match` accepts, polling every
// 20 ms until `limit` has passed; null when none came.
inline HWND WaitForWindow(const std::function<bool(HWND)>& match, std::chrono::milliseconds limit = 20s) {
  struct Search {
    const std::function<bool(HWND)>* match;
    HWND found;
  };
  const auto end = std::chrono::steady_clock::now() + limit;
  for (;;) {
    Search search{&match, nullptr};
    EnumWindows(
        [](HWND w, LPARAM p) -> BOOL {
          auto* s = reinterpret_cast<Search*>(p);
          if (!IsWindowVisible(w) || !(*s->match)(w)) return TRUE;
          s->found = w;
          return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    if (search.found || std::chrono::steady_clock::now() >= end) return search.found;
    std::this_thread::sleep_for(20ms);
  }
}

// A matcher for a top-level window of the given class and caption, made by
// process `pid` (0: any process).
inline std::function<bool(HWND)> Titled(const std::wstring& className, const std::wstring& caption, DWORD pid = 0) {
  return [=](HWND w) {
    DWORD owner = 0;
    GetWindowThreadProcessId(w, &owner);
    return (pid == 0 || owner == pid) && ClassOf(w) == className && TextOf(w) == caption;
  };
}

// Dialog boxes and message boxes are of the system's dialog class.
inline const std::wstring kDialogClass = L"#32770";

struct Control {
  HWND window;
  std::wstring className;
  int id;
  std::wstring text;
  LONG style;
  RECT rect;  // in the dialog's client coordinates
};

inline std::vector<Control> Controls(HWND dialog) {
  std::vector<Control> out;
  for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
    Control c{child, ClassOf(child), static_cast<int>(static_cast<short>(GetDlgCtrlID(child))), TextOf(child),
              GetWindowLongW(child, GWL_STYLE), {}};
    GetWindowRect(child, &c.rect);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&c.rect), 2);
    out.push_back(c);
  }
  return out;
}

// The window that has the keyboard focus in `window`'s thread, else `window`.
inline HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  const DWORD thread = GetWindowThreadProcessId(window, nullptr);
  return GetGUIThreadInfo(thread, &info) && info.hwndFocus ? info.hwndFocus : window;
}

inline void PressKey(HWND window, WPARAM key) {
  HWND target = FocusOf(window);
  const UINT scan = MapVirtualKeyW(static_cast<UINT>(key), MAPVK_VK_TO_VSC);
  PostMessageW(target, WM_KEYDOWN, key, 1 | static_cast<LPARAM>(scan) << 16);
  PostMessageW(target, WM_KEYUP, key, 1 | static_cast<LPARAM>(scan) << 16 | 0xC0000000LL);
}

// Waits until `condition` holds, polling every 20 ms; false when `limit`
// passed first.
inline bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds limit = 20s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(20ms);
  }
  return true;
}

}  // namespace win32test
