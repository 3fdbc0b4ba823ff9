// Frames a second of the demo full screen on the desktop it is started on (an
// X server, a Wayland compositor), at the size given: the demo's own
// start-up with the dialog's answer given (full screen at WIDTH × HEIGHT),
// then its frame loop for ten seconds once the picture has faded in. Run in
// the run folder; bench/platform/wayland-fps runs it under a compositor and
// under Xvfb in turn. --copy draws the picture off screen and copies it into
// the window as a display that only pretends the chosen mode has it done,
// so the copy's cost is the difference at one size.
//   desktop_fps LABEL [WIDTH HEIGHT] [--copy]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "effects/picture.h"

#include "shell/shell.h"

int main(int argc, char** argv) {
  const char* label = argc > 1 ? argv[1] : "this desktop";
  const int width = argc > 3 ? std::atoi(argv[2]) : 1920, height = argc > 3 ? std::atoi(argv[3]) : 1080;
  const bool copy = argc > 4 && std::string(argv[4]) == "--copy";
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
  if (copy && !DemoLayout.offscreen.Created()) {
    const Viewport strip = LetterboxViewport(width, height);
    if (!DemoLayout.offscreen.Create(strip.width, strip.height)) {
      std::fprintf(stderr, "desktop_fps: no off-screen target on this GL\n");
      return 1;
    }
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
  std::printf("%s, %dx%d full screen%s: %.1f frames a second\n", label, width, height,
              DemoLayout.offscreen.Created() ? ", drawn off screen and copied" : "", frames / seconds);
  audio->Stop();
  audio->Free();
  video->Shutdown();
  return 0;
}
