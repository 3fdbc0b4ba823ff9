// The demo itself: the desktop backends and one run. No command line.
#include "shell/shell.h"

int main() {
  EnterDataFolder(platform::GetProgramFolders());
  auto video = platform::CreateDesktopVideo();
  auto audio = platform::CreateDesktopAudio();
  return RunDemo(*video, *audio);
}
