// The one place that picks the desktop video backend for this build.
#include "platform/platform.h"

namespace platform {

std::unique_ptr<Video> CreateDesktopVideo() {
#ifdef _WIN32
  return CreateWin32Video();
#else
  return CreateSdlVideo();
#endif
}

}  // namespace platform
