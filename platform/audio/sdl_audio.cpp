// The SDL audio backend: an SDL output device fed by an Ogg Vorbis stream
// that is decoded inside the device callback as it plays. Where the device
// goes (unplugged, its driver gone), SDL stops it and says so, and the
// resuming choice (resuming_audio.cpp) looks for an output again.
#include <SDL.h>

#include <memory>
#include <vector>

#include "platform/audio/backend.h"
#include "platform/audio/music_clock.h"
#include "platform/audio/ogg_stream.h"
#include "platform/platform.h"

namespace platform {
namespace {

using audio::kStream;
using audio::MonotonicSeconds;

constexpr int kDeviceChannels = 2;
constexpr Uint16 kDeviceBufferFrames = 2048;

class SdlAudio final : public audio::ResumableAudio {
 public:
  explicit SdlAudio(ClockModel model) : model_(model) {}
  ~SdlAudio() override { Free(); }

  bool Init(int device, int frequency) override {
    if (device_ != 0 || device != -1 || frequency <= 0) return false;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    SDL_AudioSpec want{};
    want.freq = frequency;
    want.format = AUDIO_S16SYS;
    want.channels = kDeviceChannels;
    want.samples = kDeviceBufferFrames;
    want.callback = &SdlAudio::Callback;
    want.userdata = this;
    SDL_AudioSpec have{};
    device_ = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    if (device_ == 0) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      return false;
    }
    deviceRate_ = have.freq;
    deviceBufferFrames_ = have.samples;
    return true;
  }

  uint32_t StreamCreateFile(const char* path) override {
    if (device_ == 0 || stream_) return 0;
    auto ogg = std::make_unique<OggStream>();
    if (!ogg->Open(path) || (startFrame_ > 0 && !ogg->Seek(startFrame_))) return 0;
    SDL_AudioStream* convert = nullptr;
    if (ogg->Rate() != deviceRate_ || ogg->Channels() != kDeviceChannels) {
      convert = SDL_NewAudioStream(AUDIO_S16SYS, static_cast<Uint8>(ogg->Channels()), ogg->Rate(), AUDIO_S16SYS,
                                   kDeviceChannels, deviceRate_);
      if (!convert) return 0;
    }
    SDL_LockAudioDevice(device_);
    stream_ = std::move(ogg);
    convert_ = convert;
    clock_ = std::make_unique<PlaybackClock>(deviceRate_, deviceBufferFrames_);
    playing_ = false;
    SDL_UnlockAudioDevice(device_);
    return kStream;
  }

  bool Start() override {
    if (device_ == 0) return false;
    SDL_PauseAudioDevice(device_, 0);
    return true;
  }

  bool ChannelPlay(uint32_t stream, bool /*restart: a new stream starts at its beginning either way*/) override {
    if (device_ == 0 || stream != kStream || !stream_) return false;
    SDL_LockAudioDevice(device_);
    playing_ = true;
    SDL_UnlockAudioDevice(device_);
    return true;
  }

  int64_t PlayedFrames() override {
    if (device_ == 0 || !stream_) return 0;
    SDL_LockAudioDevice(device_);
    const int64_t heard = model_ == ClockModel::Heard ? clock_->HeardFrames(MonotonicSeconds()) : clock_->HandedOverFrames();
    SDL_UnlockAudioDevice(device_);
    // Device frames back to frames of the decoded stream.
    return heard * stream_->Rate() / deviceRate_;
  }

  Track Playing() override { return device_ != 0 && stream_ ? Track{stream_->Rate(), stream_->Channels()} : Track{}; }

  bool Stop() override {
    if (device_ == 0) return false;
    SDL_PauseAudioDevice(device_, 1);
    return true;
  }

  // SDL stops a device it has lost; one that was only paused says so.
  bool Lost() override { return device_ != 0 && SDL_GetAudioDeviceStatus(device_) == SDL_AUDIO_STOPPED; }

  bool Free() override {
    if (device_ == 0) return false;
    SDL_CloseAudioDevice(device_);
    device_ = 0;
    if (convert_) SDL_FreeAudioStream(convert_);
    convert_ = nullptr;
    stream_.reset();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return true;
  }

 private:

  static void SDLCALL Callback(void* self, Uint8* out, int len) {
    static_cast<SdlAudio*>(self)->Fill(reinterpret_cast<int16_t*>(out), static_cast<size_t>(len) / (kDeviceChannels * 2));
  }

  // Runs on the audio thread with the device lock held.
  void Fill(int16_t* out, size_t frames) {
    // The device asked now; decoding takes a varying part of a millisecond,
    // so a time read after it would carry that variation into the clock.
    const double calledAt = MonotonicSeconds();
    size_t got = 0;
    if (playing_ && stream_) got = convert_ ? ReadConverted(out, frames) : stream_->Read(out, frames);
    SDL_memset(out + got * kDeviceChannels, 0, (frames - got) * kDeviceChannels * 2);
    if (clock_) clock_->OnCallback(static_cast<int64_t>(frames), static_cast<int64_t>(got), calledAt);
  }

  size_t ReadConverted(int16_t* out, size_t frames) {
    const int wanted = static_cast<int>(frames * kDeviceChannels * 2);
    while (SDL_AudioStreamAvailable(convert_) < wanted && !sourceEnded_) {
      scratch_.resize(1024 * static_cast<size_t>(stream_->Channels()));
      const size_t n = stream_->Read(scratch_.data(), 1024);
      if (n == 0) {
        SDL_AudioStreamFlush(convert_);
        sourceEnded_ = true;
      } else {
        SDL_AudioStreamPut(convert_, scratch_.data(), static_cast<int>(n * stream_->Channels() * 2));
      }
    }
    const int got = SDL_AudioStreamGet(convert_, out, wanted);
    return got > 0 ? static_cast<size_t>(got) / (kDeviceChannels * 2) : 0;
  }

  ClockModel model_;
  SDL_AudioDeviceID device_ = 0;
  int deviceRate_ = 0;
  int deviceBufferFrames_ = 0;
  std::unique_ptr<OggStream> stream_;
  SDL_AudioStream* convert_ = nullptr;
  bool sourceEnded_ = false;
  std::vector<int16_t> scratch_;
  std::unique_ptr<PlaybackClock> clock_;
  bool playing_ = false;
};

}  // namespace

std::unique_ptr<Audio> CreateSdlAudio(ClockModel model) { return std::make_unique<SdlAudio>(model); }
std::unique_ptr<audio::ResumableAudio> audio::NewSdlAudio() { return std::make_unique<SdlAudio>(ClockModel::Heard); }

}  // namespace platform
