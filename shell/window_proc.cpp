#include "shell/shell.h"

intptr_t MainWindowProc(platform::Window* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case platform::kMsgKeyDown:
      // Escape ends the demo; every other key is swallowed.
      if (wParam == platform::kKeyEscape) DemoVideo->PostQuit(0);
      return 0;
    case platform::kMsgClose:
      // The window stays; the frame loop ends after finishing its frame.
      DemoVideo->PostQuit(0);
      return 0;
    case platform::kMsgQuit:
      DemoVideo->PostQuit(0);
      return 0;
    default:
      return DemoVideo->DefaultWindowProc(window, message, wParam, lParam);
  }
}
