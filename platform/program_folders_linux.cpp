// Where an installed sorvane keeps its files on Linux: the data under
// ../share/sorvane beside the executable (/usr/bin/sorvane reads
// /usr/share/sorvane), what it writes under $XDG_STATE_HOME/sorvane
// (~/.local/state/sorvane by default).
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/platform.h"

namespace platform {

ProgramFolders GetProgramFolders() {
  ProgramFolders folders;
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (!error) folders.data.push_back((exe.parent_path().parent_path() / "share" / "sorvane").string());
  if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/') {
    folders.state = std::string(state) + "/sorvane";
  } else if (const char* home = std::getenv("HOME"); home && *home == '/') {
    folders.state = std::string(home) + "/.local/state/sorvane";
  }
  return folders;
}

}  // namespace platform
