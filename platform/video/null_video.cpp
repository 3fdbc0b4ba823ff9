#include "platform/video/null_video.h"

#include "platform/video/signals.h"

namespace platform {

namespace {
// Without a GL delegate the null backend's window is an opaque token that no
// backend ever looks into; with one, the delegate's own windows are handed out.
char nullWindowToken;
}  // namespace

NullVideo::NullVideo() = default;
NullVideo::~NullVideo() = default;

bool NullVideo::Fails(const char* op) {
  calls.emplace_back(op);
  return failing.count(op) != 0;
}

void NullVideo::QueueMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  queue_.push_back({nullptr, message, wParam, lParam});
}

Window* NullVideo::DemoWindow() const { return window_; }

bool NullVideo::RegisterWindowClass(WindowProc procedure) {
  if (Fails("RegisterWindowClass")) return false;
  procedure_ = procedure;
  InstallCloseSignals();
  return true;
}

bool NullVideo::GetDisplayMode(int index, DisplayMode* mode) {
  if (index < 0 || static_cast<size_t>(index) >= modes.size()) return false;
  *mode = modes[static_cast<size_t>(index)];
  return true;
}

bool NullVideo::SwitchDisplayMode(int width, int height, int bits) {
  if (Fails("SwitchDisplayMode")) return false;
  if (emulatedModes) return width > 0 && height > 0;
  for (const DisplayMode& m : modes) {
    if (m.width == width && m.height == height && m.bits == bits) {
      switchedTo_ = {width, height};
      displaySwitched = true;
      return true;
    }
  }
  return false;
}

ScreenSize NullVideo::GetScreenSize() {
  calls.emplace_back("GetScreenSize");
  return displaySwitched ? switchedTo_ : desktop;
}

Window* NullVideo::OpenWindow(const WindowSpec& spec) {
  if (Fails("OpenWindow")) return nullptr;
  windows.push_back(spec);
  if (glDelegate) {
    WindowSpec hidden = spec;
    hidden.hidden = true;
    hidden.fullscreen = false;
    // Full screen covers the screen as it is.
    if (spec.fullscreen) {
      const ScreenSize screen = displaySwitched ? switchedTo_ : desktop;
      hidden.width = screen.width;
      hidden.height = screen.height;
    }
    window_ = glDelegate->OpenWindow(hidden);
  } else {
    window_ = reinterpret_cast<Window*>(&nullWindowToken);
  }
  return window_;
}

ScreenSize NullVideo::GetDrawableSize(Window* drawable) {
  calls.emplace_back("GetDrawableSize");
  if (drawableSize.width > 0) return drawableSize;
  if (glDelegate) return glDelegate->GetDrawableSize(drawable);
  return windows.empty() ? ScreenSize{} : ScreenSize{windows.back().width, windows.back().height};
}

Window* NullVideo::GetDrawable(Window* window) {
  if (Fails("GetDrawable")) return nullptr;
  // The delegate's own drawable: on Windows it is the window's device
  // context, which the pixel format and the context are made against.
  return glDelegate ? glDelegate->GetDrawable(window) : window;
}

int NullVideo::ChooseSurfaceFormat(Window* drawable, const SurfaceFormat& format) {
  if (Fails("ChooseSurfaceFormat")) return 0;
  return glDelegate ? glDelegate->ChooseSurfaceFormat(drawable, format) : 1;
}

bool NullVideo::ApplySurfaceFormat(Window* drawable, int formatIndex) {
  if (Fails("ApplySurfaceFormat")) return false;
  return glDelegate ? glDelegate->ApplySurfaceFormat(drawable, formatIndex) : formatIndex != 0;
}

bool NullVideo::CreateContext(Window* drawable) {
  if (Fails("CreateContext")) return false;
  return glDelegate ? glDelegate->CreateContext(drawable) : true;
}

bool NullVideo::MakeCurrent(Window* drawable) {
  if (Fails("MakeCurrent")) return false;
  return glDelegate ? glDelegate->MakeCurrent(drawable) : true;
}

void NullVideo::Show(Window*) { calls.emplace_back("Show"); }
void NullVideo::Focus(Window*) { calls.emplace_back("Focus"); }

void NullVideo::HideCursor() {
  calls.emplace_back("HideCursor");
  cursorHidden = true;
}

bool NullVideo::HasSwapControl() {
  calls.emplace_back("HasSwapControl");
  return swapControl;
}

void NullVideo::SetSwapInterval(int interval) {
  calls.emplace_back("SetSwapInterval");
  swapIntervals.push_back(interval);
}

bool NullVideo::PollMessage(Message* message) {
  if (window_ && TakeCloseSignal()) {
    *message = {window_, kMsgClose, 0, 0};
    return true;
  }
  if (!queue_.empty()) {
    *message = queue_.front();
    queue_.erase(queue_.begin());
    if (!message->window) message->window = window_;
    return true;
  }
  if (quitPending_) {
    quitPending_ = false;
    *message = {nullptr, kMsgQuit, static_cast<uintptr_t>(quitCode_), 0};
    return true;
  }
  return false;
}

intptr_t NullVideo::Dispatch(const Message& message) {
  dispatched.push_back(message);
  if (!message.window || !procedure_) return 0;
  return procedure_(message.window, message.message, message.wParam, message.lParam);
}

void NullVideo::PostQuit(int exitCode) {
  calls.emplace_back("PostQuit");
  quitPending_ = true;
  quitCode_ = exitCode;
}

intptr_t NullVideo::DefaultWindowProc(Window*, uint32_t, uintptr_t, intptr_t) {
  calls.emplace_back("DefaultWindowProc");
  return 0x5EED;  // recognisable, so tests can tell the default path was taken
}

void NullVideo::Present(Window* drawable) {
  calls.emplace_back("Present");
  ++presents;
  if (glDelegate) glDelegate->Present(drawable);
  if (onPresent) onPresent(presents);
}

void NullVideo::LeaveFullscreen() {
  calls.emplace_back("LeaveFullscreen");
  if (displaySwitched) {
    displaySwitched = false;
    ++displayRestores;
  }
  cursorHidden = false;
  if (glDelegate) glDelegate->LeaveFullscreen();
}

void NullVideo::ShowErrorBox(const char* caption, const char* text) {
  calls.emplace_back("ShowErrorBox");
  boxOverSwitchedMode.push_back(displaySwitched);
  boxOverHiddenCursor.push_back(cursorHidden);
  errorBoxes.push_back(std::string(caption) + "|" + text);
}

intptr_t NullVideo::RunDialog(const DialogTemplate& tmpl, DialogProc procedure) {
  calls.emplace_back("RunDialog");
  return dialog ? dialog(tmpl, procedure) : dialogResult;
}

void NullVideo::Shutdown() {
  calls.emplace_back("Shutdown");
  if (displaySwitched) {
    displaySwitched = false;
    ++displayRestores;
  }
  if (glDelegate) glDelegate->Shutdown();
}

}  // namespace platform
