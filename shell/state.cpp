#include <chrono>

#include "effects/filter.h"
#include "shell/shell.h"

DemoSettings* ActiveSettings = nullptr;
bool QuitRequested = false;
platform::Video* DemoVideo = nullptr;
platform::Audio* DemoAudio = nullptr;
platform::Window* DemoWindow = nullptr;
platform::Window* DemoDC = nullptr;
bool DemoGLContext = false;
uint32_t MusicStream = 0;
Picture DemoPicture;
filter*& AbsEffect = DemoPicture.layers[static_cast<int>(EffectKind::Abs)];
filter*& MaskEffect = DemoPicture.layers[static_cast<int>(EffectKind::Mask)];
EffectFactory DemoEffectFactory = CreateDemoEffect;
bool DrawAhead = true;
FrameLead DemoFrameLead;
PictureLayout DemoLayout;

double SteadySeconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
double (*FrameClock)() = SteadySeconds;

void ResetShellState() {
  ActiveSettings = nullptr;
  QuitRequested = false;
  DemoVideo = nullptr;
  DemoAudio = nullptr;
  DemoWindow = nullptr;
  DemoDC = nullptr;
  DemoGLContext = false;
  MusicStream = 0;
  DemoPicture = Picture();
  DemoEffectFactory = CreateDemoEffect;
  DrawAhead = true;
  DemoFrameLead = FrameLead();
  DemoLayout = PictureLayout();
  FrameClock = SteadySeconds;
}
