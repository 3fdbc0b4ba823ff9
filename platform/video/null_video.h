// null_video.h — a video backend that records every call and can be scripted.
//
// What it is for: tests of the shell drive a whole run (dialog, start-up,
// frame loop, exit) without a display, and read back what was asked of the
// platform; the start-up benchmark runs on it too. Its audio twin is
// platform/audio/null_audio.h.
//
// How to use it: set the scripted answers (`failing`, `modes`, `desktop`,
// `dialogResult`, …) before the run, then read `calls` and the recorded
// fields. It has no GL of its own; give it a `glDelegate` (a real video
// backend) and the window, context and present calls are forwarded to it
// after the scripted checks, so start-up can go on past the GL steps.
//
// How it fails: exactly as scripted. An operation named in `failing` returns
// its failure value (false, 0, null) and does nothing else.
#pragma once

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace platform {

class NullVideo final : public Video {
 public:
  NullVideo();
  ~NullVideo() override;

  // Scripted answers.
  std::set<std::string> failing;          // operation names that fail
  std::vector<DisplayMode> modes{{1280, 1024, 32, 60}};
  ScreenSize desktop{1280, 1024};
  bool emulatedModes = false;             // any size accepted, never switched (Wayland)
  ScreenSize drawableSize{};              // 0 × 0: the delegate's, else the window's asked size
  bool swapControl = true;
  intptr_t dialogResult = -1;             // -1: the dialog cannot be shown
  std::function<intptr_t(const DialogTemplate&, DialogProc)> dialog;  // overrides dialogResult
  Video* glDelegate = nullptr;
  // Called at every Present with the count of presents so far (1 for the
  // first); tests queue messages or raise signals from here.
  std::function<void(int presents)> onPresent;

  // Recorded.
  std::vector<std::string> calls;         // every operation, in order
  std::vector<Message> dispatched;
  std::vector<std::string> errorBoxes;    // "caption|text"
  std::vector<int> swapIntervals;
  std::vector<WindowSpec> windows;
  bool displaySwitched = false;           // a switched mode is in force
  int displayRestores = 0;                // times a switched mode was put back
  bool cursorHidden = false;
  // Whether a switched mode and the hidden cursor were still in force when
  // each error box was shown.
  std::vector<bool> boxOverSwitchedMode, boxOverHiddenCursor;
  int presents = 0;

  // Queues an event as the pump will report it; a null window means the demo
  // window (or none, before it exists).
  void QueueMessage(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
  Window* DemoWindow() const;

  bool RegisterWindowClass(WindowProc procedure) override;
  bool GetDisplayMode(int index, DisplayMode* mode) override;
  bool SwitchDisplayMode(int width, int height, int bits) override;
  ScreenSize GetScreenSize() override;
  Window* OpenWindow(const WindowSpec& spec) override;
  Window* GetDrawable(Window* window) override;
  ScreenSize GetDrawableSize(Window* drawable) override;
  int ChooseSurfaceFormat(Window* drawable, const SurfaceFormat& format) override;
  bool ApplySurfaceFormat(Window* drawable, int formatIndex) override;
  bool CreateContext(Window* drawable) override;
  bool MakeCurrent(Window* drawable) override;
  void Show(Window* window) override;
  void Focus(Window* window) override;
  void HideCursor() override;
  bool HasSwapControl() override;
  void SetSwapInterval(int interval) override;
  bool PollMessage(Message* message) override;
  intptr_t Dispatch(const Message& message) override;
  void PostQuit(int exitCode) override;
  intptr_t DefaultWindowProc(Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  void Present(Window* drawable) override;
  void LeaveFullscreen() override;
  void ShowErrorBox(const char* caption, const char* text) override;
  intptr_t RunDialog(const DialogTemplate& tmpl, DialogProc procedure) override;
  void Shutdown() override;

 private:
  bool Fails(const char* op);
  std::vector<Message> queue_;
  Window* window_ = nullptr;
  WindowProc procedure_ = nullptr;
  ScreenSize switchedTo_{};
  bool quitPending_ = false;
  int quitCode_ = 0;
};

}  // namespace platform
