#include <cstdio>
#include <filesystem>
#include <system_error>

#include "shell/data_folder.h"

#include "data/files.h"

#include "gpu/shader.h"

namespace fs = std::filesystem;

namespace {

// A folder that lacks one of the files the demo reads is not a run folder.
bool HoldsEveryFile(const fs::path& folder) {
  std::error_code error;
  for (const std::string& name : datafiles::All())
    if (!fs::is_regular_file(folder / name, error)) return false;
  return true;
}

// Whether a file can be written in `folder`, by writing one: permission bits
// say nothing of read-only mounts, and nothing at all to root.
bool CanWriteIn(const fs::path& folder, const char* name) {
  std::error_code error;
  const bool existed = fs::exists(folder / name, error);
  std::FILE* f = std::fopen((folder / name).string().c_str(), "a");
  if (!f) return false;
  std::fclose(f);
  if (!existed) fs::remove(folder / name, error);
  return true;
}

}  // namespace

std::string EnterDataFolder(const platform::ProgramFolders& folders) {
  std::error_code error;
  if (!HoldsEveryFile(".")) {
    for (const std::string& candidate : folders.data) {
      if (candidate.empty() || !HoldsEveryFile(candidate)) continue;
      fs::current_path(candidate, error);
      if (!error) break;
    }
  }
  if (CanWriteIn(".", "shaders.log")) {
    SetShaderLogPath("shaders.log");
    return (fs::current_path(error) / "shaders.log").string();
  }
  if (!folders.state.empty()) {
    fs::create_directories(folders.state, error);
    if (CanWriteIn(folders.state, "shaders.log")) {
      const std::string log = (fs::path(folders.state) / "shaders.log").string();
      SetShaderLogPath(log);
      return log;
    }
  }
  std::fprintf(stderr, "sorvane: shaders.log can be written neither in %s nor in %s\n",
               fs::current_path(error).string().c_str(), folders.state.empty() ? "(no user folder)" : folders.state.c_str());
  return {};
}
