// Windows' own audio backend: the Ogg stream played through a WASAPI
// shared-mode stream on the default output device, its position the device's
// own account of the sample being played.
//
// Why not SDL's device there: a callback clock sees only the buffers it hands
// over, never what the system's mixer and the device still hold, and the
// picture runs ahead of the sound by all of that (a quarter of a second under
// Wine). `IAudioClock::GetPosition` says which sample the device is playing
// and when it said so (a performance-counter time): the position is that,
// carried forward to the moment it is read, never backwards and never past
// what was written.
//
// The stream takes the device's own mix format (float or 16-bit, its rate
// and channel count): the track is resampled linearly to the device's rate
// and its two channels go to the first two (a mono track to both).
//
// How it fails: Init fails where no output device is there (then SDL's
// device is tried); StreamCreateFile fails for a file that cannot be decoded
// or a device that refuses the stream.
#include <windows.h>
// After windows.h, which they need.
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/audio/backend.h"
#include "platform/audio/ogg_stream.h"

namespace platform {
namespace {

using audio::kStream;

// What the stream asks the device to hold: enough for a busy machine, and
// the position accounts for all of it.
constexpr REFERENCE_TIME kBufferDuration = 2000000;  // 200 ms in 100 ns units

// KSDATAFORMAT_SUBTYPE_IEEE_FLOAT, written out so no GUID library is needed.
constexpr GUID kFloatSubtype = {0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

template <typename T>
void Release(T*& p) {
  if (p) p->Release();
  p = nullptr;
}

double PerformanceSeconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

class WasapiAudio final : public Audio {
 public:
  ~WasapiAudio() override { Free(); }

  bool Init(int device, int frequency) override {
    if (client_ || device != -1 || frequency <= 0) return false;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    comInitialized_ = SUCCEEDED(com);
    IMMDeviceEnumerator* enumerator = nullptr;
    IMMDevice* endpoint = nullptr;
    bool ok = SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                         __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator))) &&
              SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &endpoint)) &&
              SUCCEEDED(endpoint->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                           reinterpret_cast<void**>(&client_))) &&
              SUCCEEDED(client_->GetMixFormat(&mix_)) && ReadMixFormat();
    Release(endpoint);
    Release(enumerator);
    if (!ok) Free();
    return ok;
  }

  uint32_t StreamCreateFile(const char* path) override {
    if (!client_ || render_) return 0;
    auto ogg = std::make_unique<OggStream>();
    if (!ogg->Open(path)) return 0;
    event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    UINT32 bufferFrames = 0;
    const bool ok = event_ &&
                    SUCCEEDED(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, AUDCLNT_STREAMFLAGS_EVENTCALLBACK,
                                                  kBufferDuration, 0, mix_, nullptr)) &&
                    SUCCEEDED(client_->SetEventHandle(event_)) && SUCCEEDED(client_->GetBufferSize(&bufferFrames)) &&
                    SUCCEEDED(client_->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&render_))) &&
                    SUCCEEDED(client_->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&clock_))) &&
                    SUCCEEDED(clock_->GetFrequency(&clockFrequency_)) && clockFrequency_ > 0;
    if (!ok) {
      Release(render_);
      Release(clock_);
      return 0;
    }
    ogg_ = std::move(ogg);
    bufferFrames_ = bufferFrames;
    step_ = static_cast<double>(ogg_->Rate()) / deviceRate_;
    previous_ = Decode();
    next_ = Decode();
    position_ = 0.0;
    // The device starts on the track's first frames, not on silence.
    Fill();
    running_ = true;
    feeder_ = std::thread([this] { Feed(); });
    return kStream;
  }

  bool Start() override { return client_ != nullptr; }

  bool ChannelPlay(uint32_t stream, bool) override {
    if (stream != kStream || !render_) return false;
    return SUCCEEDED(client_->Start());
  }

  uint64_t ChannelGetPosition(uint32_t stream) override {
    if (stream != kStream || !clock_) return 0;
    UINT64 position = 0, counter = 0;
    if (FAILED(clock_->GetPosition(&position, &counter))) return Bytes(reported_);
    // The device's position when it was taken, moved on to now (its counter
    // time is in 100 ns units of the performance counter).
    const double since = std::clamp(PerformanceSeconds() - static_cast<double>(counter) * 1e-7, 0.0, 0.05);
    const double seconds = static_cast<double>(position) / static_cast<double>(clockFrequency_) + since;
    const auto frames = static_cast<int64_t>(seconds * ogg_->Rate());
    std::lock_guard<std::mutex> lock(lock_);
    reported_ = std::clamp(frames, reported_, static_cast<int64_t>(trackFramesWritten_));
    return Bytes(reported_);
  }

  double ChannelBytes2Seconds(uint32_t stream, uint64_t bytes) override {
    return audio::BytesToSeconds(stream, ogg_ != nullptr, bytes, ogg_ ? ogg_->Rate() : 0, ogg_ ? ogg_->Channels() : 0);
  }

  bool Stop() override { return client_ && SUCCEEDED(client_->Stop()); }

  bool Free() override {
    if (!client_ && !comInitialized_) return false;
    running_ = false;
    if (event_) SetEvent(event_);
    if (feeder_.joinable()) feeder_.join();
    if (client_) client_->Stop();
    Release(render_);
    Release(clock_);
    Release(client_);
    if (mix_) CoTaskMemFree(mix_);
    mix_ = nullptr;
    if (event_) CloseHandle(event_);
    event_ = nullptr;
    ogg_.reset();
    if (comInitialized_) CoUninitialize();
    comInitialized_ = false;
    return true;
  }

 private:
  uint64_t Bytes(int64_t frames) const { return static_cast<uint64_t>(frames) * static_cast<uint64_t>(ogg_->Channels()) * 2u; }

  // The device's mix format, which the stream takes as it is.
  bool ReadMixFormat() {
    deviceRate_ = static_cast<int>(mix_->nSamplesPerSec);
    deviceChannels_ = mix_->nChannels;
    bool isFloat = mix_->wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    if (mix_->wFormatTag == WAVE_FORMAT_EXTENSIBLE && mix_->cbSize >= 22)
      isFloat = IsEqualGUID(reinterpret_cast<WAVEFORMATEXTENSIBLE*>(mix_)->SubFormat, kFloatSubtype);
    float_ = isFloat && mix_->wBitsPerSample == 32;
    const bool int16 = !isFloat && mix_->wBitsPerSample == 16;
    return deviceRate_ > 0 && deviceChannels_ > 0 && (float_ || int16);
  }

  // Runs on the feeding thread: tops the device's buffer up each time it asks.
  void Feed() {
    while (running_) {
      WaitForSingleObject(event_, 100);
      if (running_) Fill();
    }
  }

  // Writes what the device has room for: the track resampled to its rate,
  // silence once the track has ended.
  void Fill() {
    UINT32 padding = 0;
    if (FAILED(client_->GetCurrentPadding(&padding)) || padding >= bufferFrames_) return;
    const UINT32 room = bufferFrames_ - padding;
    BYTE* data = nullptr;
    if (FAILED(render_->GetBuffer(room, &data))) return;
    const int channels = ogg_->Channels();
    for (UINT32 i = 0; i < room; ++i) {
      // Linear interpolation between the two track frames around this
      // device frame.
      while (position_ >= 1.0) {
        previous_ = next_;
        next_ = Decode();
        position_ -= 1.0;
      }
      float left = 0, right = 0;
      if (!ended_) {
        left = static_cast<float>(previous_[0] + (next_[0] - previous_[0]) * position_) / 32768.0f;
        right = channels > 1 ? static_cast<float>(previous_[1] + (next_[1] - previous_[1]) * position_) / 32768.0f : left;
      }
      position_ += step_;
      for (int c = 0; c < deviceChannels_; ++c) {
        const float v = c == 0 ? left : c == 1 ? right : 0.0f;
        if (float_) reinterpret_cast<float*>(data)[i * deviceChannels_ + c] = v;
        else reinterpret_cast<int16_t*>(data)[i * deviceChannels_ + c] = static_cast<int16_t>(std::clamp(v * 32767.0f, -32768.0f, 32767.0f));
      }
    }
    render_->ReleaseBuffer(room, 0);
  }

  // The next frame of the track (both channels), counted as written.
  std::array<double, 2> Decode() {
    int16_t frame[2] = {0, 0};
    if (ended_ || ogg_->Read(frame, 1) == 0) {
      ended_ = true;
      return {0, 0};
    }
    std::lock_guard<std::mutex> lock(lock_);
    ++trackFramesWritten_;
    return {static_cast<double>(frame[0]), static_cast<double>(ogg_->Channels() > 1 ? frame[1] : frame[0])};
  }

  IAudioClient* client_ = nullptr;
  IAudioRenderClient* render_ = nullptr;
  IAudioClock* clock_ = nullptr;
  WAVEFORMATEX* mix_ = nullptr;
  HANDLE event_ = nullptr;
  bool comInitialized_ = false;
  int deviceRate_ = 0, deviceChannels_ = 0;
  bool float_ = false;
  UINT32 bufferFrames_ = 0;
  UINT64 clockFrequency_ = 0;
  std::unique_ptr<OggStream> ogg_;
  std::thread feeder_;
  std::atomic<bool> running_{false};
  // The resampler, on the feeding thread: where the next device frame lies
  // between the two track frames around it.
  double step_ = 1.0, position_ = 0.0;
  std::array<double, 2> previous_{}, next_{};
  bool ended_ = false;
  std::mutex lock_;
  int64_t trackFramesWritten_ = 0;
  int64_t reported_ = 0;
};

}  // namespace

std::unique_ptr<Audio> CreateWasapiAudio() { return std::make_unique<WasapiAudio>(); }

}  // namespace platform
