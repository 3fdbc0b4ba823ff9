// Shows the settings dialog as the demo does, over a scripted display, and
// prints the record afterwards. For looking at the dialog and taking its
// picture (see capture_dialog.sh); not a test.
#include <cstdio>

#include "platform/video/fltk_dialog.h"
#include "platform/video/null_video.h"
#include "shell/settings_dialog.h"

int main() {
  platform::NullVideo video;
  video.modes = {{640, 480, 32, 60},   {800, 600, 32, 60},   {1024, 768, 32, 60},  {1024, 768, 32, 75},
                 {1280, 720, 32, 60},  {1280, 1024, 32, 60}, {1280, 1024, 16, 60}, {1600, 900, 32, 60},
                 {1920, 1080, 32, 60}, {1920, 1080, 32, 144}};
  video.dialog = platform::RunFltkDialog;
  DemoSettings settings{};
  WriteDefaultSettings(settings);
  ActiveSettings = &settings;
  DemoVideo = &video;
  const intptr_t result = ShowSettingsDialog();
  std::printf("result %ld: %d x %d x %d windowed %d vsync %d multisample %d spare %d\n", static_cast<long>(result),
              settings.width, settings.height, settings.bits, settings.windowed, settings.vsync, settings.multisample,
              settings.spare);
  return 0;
}
