// Frames a second of the demo full screen on the desktop it is started on (an
// X server, a Wayland compositor), at the size given: the demo's own
// start-up with the dialog's answer given (full screen at WIDTH × HEIGHT),
// then its frame loop for ten seconds once the picture has faded in. Run in
// the run folder; bench/platform/wayland-fps runs it under a compositor and
// under Xvfb in turn.
//   desktop_fps LABEL [WIDTH HEIGHT]
#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "shell/shell.h"

int main(int argc, char** argv) {
  const char* label = argc > 1 ? argv[1] : "this desktop";
  const int width = argc > 3 ? std::atoi(argv[2]) : 1920, height = argc > 3 ? std::atoi(argv[3]) : 1080;
  EnterDataFolder(platform::GetProgramFolders());
  auto video = platform::CreateDesktopVideo();
  auto audio = platform::CreateDesktopAudio();
  DemoVideo = video.get();
  DemoAudio = audio.get();
  DemoSettings settings;
  WriteDefaultSettings(settings);
  ActiveSettings = &settings;
  if (!InitDemo(width, height, 32, true, false)) {
    std::fprintf(stderr, "desktop_fps: the demo did not start (run it in the run folder, on a display)\n");
    return 1;
  }
  using Clock = std::chrono::steady_clock;
  double t = 0;
  for (const auto fadedIn = Clock::now() + std::chrono::seconds(5); Clock::now() < fadedIn;) t = RunFrame(t);
  int frames = 0;
  const auto start = Clock::now();
  while (Clock::now() - start < std::chrono::seconds(10)) {
    t = RunFrame(t);
    ++frames;
  }
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%s, %dx%d full screen: %.1f frames a second\n", label, width, height, frames / seconds);
  audio->Stop();
  audio->Free();
  video->Shutdown();
  return 0;
}
