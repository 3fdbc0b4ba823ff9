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
// anew whenever the device goes or another becomes the default; SDL's device
// stands in only until WASAPI plays again.
//
// The browser: Web Audio, the one output a page has.
#if defined(__EMSCRIPTEN__)
#include "platform/platform.h"
#else
#include "platform/audio/backend.h"
#endif

namespace platform {

#if defined(__EMSCRIPTEN__)
std::unique_ptr<Audio> CreateDesktopAudio() { return CreateWebAudio(); }
#elif !defined(_WIN32)
namespace {

using audio::TrackAudio;

// The first of its backends that opens the device and takes the stream; its
// position is the chosen one's, passed on in frames.
class ChosenAudio final : public TrackAudio {
 public:
  explicit ChosenAudio(std::vector<audio::Chooser<TrackAudio>::Factory> backends) : chooser_(std::move(backends)) {}

  bool Init(int device, int frequency) override {
    if (chooser_.chosen()) return false;
    return chooser_.Init(device, frequency);
  }
  uint32_t StreamCreateFile(const char* path) override { return chooser_.Take(path, [](TrackAudio&) {}); }
  bool Start() override { return chosen() && chosen()->Start(); }
  bool ChannelPlay(uint32_t stream, bool restart) override { return chosen() && chosen()->ChannelPlay(stream, restart); }
  int64_t PlayedFrames() override { return chosen() ? chosen()->PlayedFrames() : 0; }
  Track Playing() override { return chosen() ? chosen()->Playing() : Track{}; }
  bool Stop() override { return chosen() && chosen()->Stop(); }
  // A freed device may be opened again, and the choice is made anew.
  bool Free() override {
    auto released = chooser_.Release();
    return released && released->Free();
  }

 private:
  TrackAudio* chosen() const { return chooser_.chosen(); }
  audio::Chooser<TrackAudio> chooser_;
};

std::unique_ptr<TrackAudio> Server() { return audio::NewResumingAudio({&audio::NewPipeWireAudio, &audio::NewPulseAudio}); }
std::unique_ptr<TrackAudio> Sdl() { return audio::NewSdlAudio(); }

}  // namespace

std::unique_ptr<Audio> CreateDesktopAudio() { return std::make_unique<ChosenAudio>(std::vector{&Server, &Sdl}); }

std::unique_ptr<Audio> CreateServerAudio() { return Server(); }
#else
std::unique_ptr<Audio> CreateDesktopAudio() {
  audio::ResumingOptions options;
  options.preferEarlier = true;
  return audio::NewResumingAudio({&audio::NewWasapiAudio, &audio::NewSdlAudio}, options);
}
#endif

}  // namespace platform
