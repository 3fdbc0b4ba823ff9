// The demo drawing every frame at the bare music position read after the
// previous swap, for av_e2e's comparison with the demo itself.
#include "shell/shell.h"

int main() {
  DrawAhead = false;
  EnterDataFolder(platform::GetProgramFolders());
  auto video = platform::CreateDesktopVideo();
  auto audio = platform::CreateDesktopAudio();
  return RunDemo(*video, *audio);
}
