// The desktop's choice of audio backend, made when the device is opened: the
// sound server where one answers, else SDL's device.
#include <initializer_list>

#include "platform/platform.h"

namespace platform {
namespace {

class DesktopAudio final : public Audio {
 public:
  bool Init(int device, int frequency) override {
    if (chosen_) return false;
#ifdef _WIN32
    // SDL's device (WASAPI) is the Windows sound system's own client.
    const std::initializer_list<std::unique_ptr<Audio> (*)()> backends = {+[] { return CreateSdlAudio(); }};
#else
    const std::initializer_list<std::unique_ptr<Audio> (*)()> backends = {&CreateServerAudio,
                                                                          +[] { return CreateSdlAudio(); }};
#endif
    for (auto create : backends) {
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
  std::unique_ptr<Audio> chosen_;
};

}  // namespace

std::unique_ptr<Audio> CreateDesktopAudio() { return std::make_unique<DesktopAudio>(); }

}  // namespace platform
