// The desktop's choice of audio backend, made when the device is opened: the
// sound server where one answers, else SDL's device; and the sound server's
// own choice: PipeWire's own stream where a PipeWire daemon with an audio sink
// answers, else a libpulse stream (PulseAudio).
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace platform {
namespace {

using Factory = std::unique_ptr<Audio> (*)();

// The first of `backends` whose Init succeeds.
class ChosenAudio final : public Audio {
 public:
  explicit ChosenAudio(std::vector<Factory> backends) : backends_(std::move(backends)) {}

  bool Init(int device, int frequency) override {
    if (chosen_) return false;
    for (Factory create : backends_) {
      auto candidate = create();
      if (candidate->Init(device, frequency)) {
        chosen_ = std::move(candidate);
        return true;
      }
    }
    return false;
  }
  uint32_t StreamCreateFile(const char* path) override { return chosen_ ? chosen_->StreamCreateFile(path) : 0; }
  bool Start() override { return chosen_ && chosen_->Start(); }
  bool ChannelPlay(uint32_t stream, bool restart) override { return chosen_ && chosen_->ChannelPlay(stream, restart); }
  uint64_t ChannelGetPosition(uint32_t stream) override { return chosen_ ? chosen_->ChannelGetPosition(stream) : 0; }
  double ChannelBytes2Seconds(uint32_t stream, uint64_t bytes) override {
    return chosen_ ? chosen_->ChannelBytes2Seconds(stream, bytes) : -1.0;
  }
  bool Stop() override { return chosen_ && chosen_->Stop(); }
  // A freed device may be opened again, and the choice is made anew.
  bool Free() override {
    if (!chosen_) return false;
    const bool freed = chosen_->Free();
    chosen_.reset();
    return freed;
  }

 private:
  std::vector<Factory> backends_;
  std::unique_ptr<Audio> chosen_;
};

std::unique_ptr<Audio> CreateSdl() { return CreateSdlAudio(); }

}  // namespace

std::unique_ptr<Audio> CreateDesktopAudio() {
#ifdef _WIN32
  // SDL's device (WASAPI) is the Windows sound system's own client.
  return std::make_unique<ChosenAudio>(std::vector<Factory>{&CreateSdl});
#else
  return std::make_unique<ChosenAudio>(std::vector<Factory>{&CreateServerAudio, &CreateSdl});
#endif
}

#ifndef _WIN32
// PipeWire first: its pulse service's timing leaves out the server's queue
// (pipewire_audio.cpp), and a PulseAudio machine has no PipeWire sink.
std::unique_ptr<Audio> CreateServerAudio() {
  return std::make_unique<ChosenAudio>(std::vector<Factory>{&CreatePipeWireAudio, &CreatePulseAudio});
}
#endif

}  // namespace platform
