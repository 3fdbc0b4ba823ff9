#include <algorithm>

#include "shell/shell.h"

namespace {

// Drains every pending message without waiting; a quit seen here still lets
// the frame be presented and the clock be read.
void PumpMessages() {
  platform::Message message;
  while (DemoVideo->PollMessage(&message)) {
    if (message.message == platform::kMsgQuit) QuitRequested = true;
    DemoVideo->Dispatch(message);
  }
}

}  // namespace

double MusicClock() {
  const uint64_t position = DemoAudio->ChannelGetPosition(MusicStream);
  return DemoAudio->ChannelBytes2Seconds(MusicStream, position);
}

double RunFrame(double demoTime) {
  LayOutFrame();
  DemoPicture.Draw(demoTime);
  ShowFrame();
  PumpMessages();
  DemoVideo->Present(DemoDC);
  DemoFrameLead.Presented(FrameClock());
  const double music = MusicClock();
  DemoFrameLead.ClockRead(FrameClock(), music);
  if (!DrawAhead) return music;
  return std::max(demoTime, music + DemoFrameLead.Seconds());
}
