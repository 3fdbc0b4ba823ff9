// Where sorvane keeps its files on Windows: the data beside sorvane.exe (the
// unpacked zip), what it writes under %LOCALAPPDATA%\sorvane.
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/platform.h"

namespace platform {

ProgramFolders GetProgramFolders() {
  ProgramFolders folders;
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) break;
    if (n < path.size()) {
      path.resize(n);
      folders.data.push_back(std::filesystem::path(path).parent_path().string());
      break;
    }
    path.resize(path.size() * 2);
  }
  if (const char* local = std::getenv("LOCALAPPDATA"); local && *local)
    folders.state = (std::filesystem::path(local) / "sorvane").string();
  return folders;
}

}  // namespace platform
