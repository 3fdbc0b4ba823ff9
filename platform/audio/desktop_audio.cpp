// The desktop's choice of audio backend.
//
// Linux: the sound server where one answers and takes the stream (PipeWire's
// own stream where a PipeWire daemon with an audio sink answers, else a
// libpulse stream), made anew when the server goes and comes back; else
// SDL's device (a bare ALSA device, SDL's dummy driver). SDL stays outside
// the resumed list there: while a server restarts, SDL would take the
// stream to the bare device and keep it from the server that comes back.
//
// Windows: WASAPI on the default device, else SDL's device, the choice made
// anew whenever the device goes or another becomes the default.
#include "platform/audio/backend.h"

namespace platform {

#ifndef _WIN32
namespace {

// The first of its backends that opens the device and takes the stream.
class ChosenAudio final : public Audio {
 public:
  explicit ChosenAudio(std::vector<audio::Chooser<Audio>::Factory> backends) : chooser_(std::move(backends)) {}

  bool Init(int device, int frequency) override {
    if (chooser_.chosen()) return false;
    return chooser_.Init(device, frequency);
  }
  uint32_t StreamCreateFile(const char* path) override { return chooser_.Take(path, [](Audio&) {}); }
  bool Start() override { return chosen() && chosen()->Start(); }
  bool ChannelPlay(uint32_t stream, bool restart) override { return chosen() && chosen()->ChannelPlay(stream, restart); }
  uint64_t ChannelGetPosition(uint32_t stream) override { return chosen() ? chosen()->ChannelGetPosition(stream) : 0; }
  double ChannelBytes2Seconds(uint32_t stream, uint64_t bytes) override {
    return chosen() ? chosen()->ChannelBytes2Seconds(stream, bytes) : -1.0;
  }
  bool Stop() override { return chosen() && chosen()->Stop(); }
  // A freed device may be opened again, and the choice is made anew.
  bool Free() override {
    auto released = chooser_.Release();
    return released && released->Free();
  }

 private:
  Audio* chosen() const { return chooser_.chosen(); }
  audio::Chooser<Audio> chooser_;
};

std::unique_ptr<Audio> CreateSdl() { return CreateSdlAudio(); }

}  // namespace

std::unique_ptr<Audio> CreateDesktopAudio() {
  return std::make_unique<ChosenAudio>(std::vector<audio::Chooser<Audio>::Factory>{&CreateServerAudio, &CreateSdl});
}

std::unique_ptr<Audio> CreateServerAudio() {
  return audio::NewResumingAudio({&audio::NewPipeWireAudio, &audio::NewPulseAudio});
}
#else
std::unique_ptr<Audio> CreateDesktopAudio() { return audio::NewResumingAudio({&audio::NewWasapiAudio, &audio::NewSdlAudio}); }
#endif

}  // namespace platform
