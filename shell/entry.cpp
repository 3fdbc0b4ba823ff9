#include "shell/shell.h"

namespace {
constexpr const char* kStartupFailure = "An error occured during init or extension missing.";
}

void WriteDefaultSettings(DemoSettings& settings) {
  settings.width = 1280;
  settings.height = 1024;
  settings.bits = 32;
  settings.windowed = 0;
  settings.vsync = 0;
  settings.multisample = 0;
}

int RunDemo(platform::Video& video, platform::Audio& audio) {
  DemoVideo = &video;
  DemoAudio = &audio;
  static DemoSettings settings;
  WriteDefaultSettings(settings);
  ActiveSettings = &settings;

  if (ShowSettingsDialog() == 0) {
    video.Shutdown();
    return 0;
  }
  if (!InitDemo(settings.width, settings.height, settings.bits, settings.windowed == 0, settings.vsync != 0)) {
    // The box is seen on the desktop as the user left it: display mode
    // restored and cursor shown, though the window and context stay.
    video.LeaveFullscreen();
    video.ShowErrorBox("Error", kStartupFailure);
    // Leaving the process puts a switched display mode back, on this way out
    // as on every other.
    video.Shutdown();
    return 1;
  }
  double demoTime = 0.0;
  do {
    demoTime = RunFrame(demoTime);
  } while (!QuitRequested);
  audio.Stop();
  audio.Free();
  video.Shutdown();
  return 0;
}
