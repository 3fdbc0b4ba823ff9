#include <GL/gl.h>

#include <algorithm>

#include "effects/filter.h"
#include "shell/shell.h"

double MusicClock() {
  const uint64_t position = DemoAudio->ChannelGetPosition(MusicStream);
  return DemoAudio->ChannelBytes2Seconds(MusicStream, position);
}

double RunFrame(double demoTime) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
  AbsEffect->render(demoTime);
  MaskEffect->render(demoTime);
  // Drain every pending message without waiting; a quit seen here still lets
  // this frame be presented and the clock be read.
  platform::Message message;
  while (DemoVideo->PollMessage(&message)) {
    if (message.message == platform::kMsgQuit) QuitRequested = true;
    DemoVideo->Dispatch(message);
  }
  DemoVideo->Present(DemoDC);
  DemoFrameLead.Presented(FrameClock());
  const double music = MusicClock();
  DemoFrameLead.ClockRead(FrameClock());
  if (!DrawAhead) return music;
  return std::max(demoTime, music + DemoFrameLead.Seconds());
}
