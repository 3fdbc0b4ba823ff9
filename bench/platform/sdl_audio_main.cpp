// The demo playing through SDL's device on its callback clock instead of
// WASAPI's device position, for av_e2e's comparison under Wine: the same
// build, the same frame loop, only the clock differs.
#include "shell/shell.h"

int main() {
  EnterDataFolder(platform::GetProgramFolders());
  auto video = platform::CreateDesktopVideo();
  auto audio = platform::CreateSdlAudio();
  return RunDemo(*video, *audio);
}
