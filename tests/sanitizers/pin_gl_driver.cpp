// Linked into every program of the sanitizer build only.
//
// Mesa unloads its DRI driver when the X display closes, which every program
// here does before it exits. The leak check runs after that, so whatever the
// driver keeps for the process's lifetime is reported with its frames in a
// library that is no longer there: no name to suppress it by, and no way to
// tell it from our own leaks. Loading the software drivers once more with
// RTLD_NODELETE at start-up keeps them mapped until the process ends, so
// their frames keep their names and the suppression file can list them.
#include <dlfcn.h>

#include <string>

namespace {

[[maybe_unused]] const bool pinned = [] {
  for (const char* driver : {"swrast_dri.so", "kms_swrast_dri.so"})
    dlopen((std::string(SORVANE_DRI_DIR "/") + driver).c_str(), RTLD_LAZY | RTLD_NODELETE);
  return true;
}();

}  // namespace
