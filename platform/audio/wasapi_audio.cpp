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
// The stream is the track as it is (16-bit PCM at its own rate and channel
// count): Windows' own converter (AUTOCONVERTPCM with its better-quality
// resampler) brings it to the device's mix format, its rate and its speakers
// (a mono endpoint gets both channels mixed; more than two keep the front
// pair). So the device's position counts frames of the track.
//
// The output is lost, and says so (`Lost`), when a call reports the device
// invalidated or fails otherwise (a headset unplugged, a Bluetooth device
// dropping, the format changed in Sound settings, another program taking
// exclusive mode, the audio service restarted), and when the system says
// that another device became the default for the console role or that this
// one went away. The stream then stops; the resuming choice
// (resuming_audio.cpp) opens the default device again.
//
// How it fails: Init fails where no output device is there; StreamCreateFile
// fails for a file that cannot be decoded or a device that refuses the
// stream (a system without the converter among them). The resuming choice
// then tries SDL's device.
#include "platform/audio/wasapi_audio.h"

#include <windows.h>
// After windows.h, which they need.
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/audio/ogg_stream.h"

#ifndef AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM
#define AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM 0x80000000
#endif
#ifndef AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY
#define AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY 0x08000000
#endif

namespace platform::audio {
namespace {

// What the stream asks the device to hold: enough for a busy machine, and
// the position accounts for all of it.
constexpr REFERENCE_TIME kBufferDuration = 2000000;  // 200 ms in 100 ns units

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

// The system's word on the endpoints, called on a thread of its own: it only
// marks the output lost and wakes the feeding thread.
class DeviceWatch final : public IMMNotificationClient {
 public:
  DeviceWatch(std::wstring endpoint, std::atomic<bool>* lost, HANDLE wake)
      : endpoint_(std::move(endpoint)), lost_(lost), wake_(wake) {}

  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(IMMNotificationClient))) {
      *out = static_cast<IMMNotificationClient*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }

  // The stream was opened on the console role's default: another default
  // there (or none) moves the music.
  HRESULT STDMETHODCALLTYPE OnDefaultDeviceChanged(EDataFlow flow, ERole role, LPCWSTR id) override {
    if (flow == eRender && role == eConsole && (!id || endpoint_ != id)) Lose();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceStateChanged(LPCWSTR id, DWORD state) override {
    if (state != DEVICE_STATE_ACTIVE && Ours(id)) Lose();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceRemoved(LPCWSTR id) override {
    if (Ours(id)) Lose();
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE OnDeviceAdded(LPCWSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE OnPropertyValueChanged(LPCWSTR, const PROPERTYKEY) override { return S_OK; }

 private:
  ~DeviceWatch() = default;
  bool Ours(LPCWSTR id) const { return id && endpoint_ == id; }
  void Lose() {
    *lost_ = true;
    SetEvent(wake_);
  }

  const std::wstring endpoint_;
  std::atomic<bool>* const lost_;
  const HANDLE wake_;
  std::atomic<ULONG> references_{1};
};

class WasapiAudio final : public ResumableAudio {
 public:
  ~WasapiAudio() override { Free(); }

  bool Init(int device, int frequency) override {
    if (client_ || device != -1 || frequency <= 0) return false;
    // A thread's COM stays initialised as long as objects made on it live;
    // it is let go by the thread that took it (the resuming choice makes
    // backends on a thread of its own).
    comInitialized_ = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    comThread_ = GetCurrentThreadId();
    wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    IMMDevice* endpoint = nullptr;
    LPWSTR id = nullptr;
    bool ok = wake_ &&
              SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                         __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator_))) &&
              SUCCEEDED(enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, &endpoint)) &&
              SUCCEEDED(endpoint->GetId(&id)) &&
              SUCCEEDED(endpoint->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr,
                                           reinterpret_cast<void**>(&client_)));
    if (ok) {
      watch_ = new DeviceWatch(id, &lost_, wake_);
      // Without notifications (an old or partial system) a lost device is
      // still seen through the failing calls.
      if (FAILED(enumerator_->RegisterEndpointNotificationCallback(watch_))) Release(watch_);
    }
    if (id) CoTaskMemFree(id);
    Release(endpoint);
    if (!ok) Free();
    return ok;
  }

  uint32_t StreamCreateFile(const char* path) override {
    if (!client_ || render_) return 0;
    auto ogg = std::make_unique<OggStream>();
    if (!ogg->Open(path) || (startFrame_ > 0 && !ogg->Seek(startFrame_))) return 0;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(ogg->Channels());
    format.nSamplesPerSec = static_cast<DWORD>(ogg->Rate());
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(format.nChannels * 2);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    const DWORD flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                        AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
    UINT32 bufferFrames = 0;
    const bool ok =
        SUCCEEDED(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, kBufferDuration, 0, &format, nullptr)) &&
        SUCCEEDED(client_->SetEventHandle(wake_)) && SUCCEEDED(client_->GetBufferSize(&bufferFrames)) &&
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
    // The device starts on the track's first frames, not on silence.
    Fill();
    running_ = true;
    feeder_ = std::thread([this] { Feed(); });
    return kStream;
  }

  bool Start() override { return client_ != nullptr; }

  bool ChannelPlay(uint32_t stream, bool) override {
    if (stream != kStream || !render_) return false;
    return Check(client_->Start());
  }

  int64_t PlayedFrames() override {
    if (!clock_) return 0;
    UINT64 position = 0, counter = 0;
    if (lost_ || !Check(clock_->GetPosition(&position, &counter))) return reported_;
    // The device's position when it was taken, moved on to now (its counter
    // time is in 100 ns units of the performance counter).
    const double since = std::clamp(PerformanceSeconds() - static_cast<double>(counter) * 1e-7, 0.0, 0.05);
    const double seconds = static_cast<double>(position) / static_cast<double>(clockFrequency_) + since;
    const auto frames = static_cast<int64_t>(seconds * ogg_->Rate());
    std::lock_guard<std::mutex> lock(lock_);
    reported_ = std::clamp(frames, reported_, trackFramesWritten_);
    return reported_;
  }

  Track Playing() override { return ogg_ && clock_ ? Track{ogg_->Rate(), ogg_->Channels()} : Track{}; }

  bool Stop() override { return client_ && SUCCEEDED(client_->Stop()); }

  bool Lost() override { return lost_; }

  bool Free() override {
    if (!client_ && !enumerator_ && !comInitialized_) return false;
    running_ = false;
    if (wake_) SetEvent(wake_);
    if (feeder_.joinable()) feeder_.join();
    if (client_) client_->Stop();
    if (watch_) enumerator_->UnregisterEndpointNotificationCallback(watch_);
    Release(watch_);
    Release(render_);
    Release(clock_);
    Release(client_);
    Release(enumerator_);
    if (wake_) CloseHandle(wake_);
    wake_ = nullptr;
    ogg_.reset();
    if (comInitialized_ && GetCurrentThreadId() == comThread_) CoUninitialize();
    comInitialized_ = false;
    return true;
  }

  IMMNotificationClient* watch() const { return watch_; }

 private:
  // A failed call means the stream is gone, whatever the code: the device
  // invalidated is the usual one, and no other leaves a stream worth keeping.
  bool Check(HRESULT result) {
    if (FAILED(result)) lost_ = true;
    return SUCCEEDED(result);
  }

  // Runs on the feeding thread: tops the device's buffer up each time it
  // asks. A lost output is stopped at once, so that music moved to a new
  // default device does not also go on on the old one.
  void Feed() {
    while (running_ && !lost_) {
      WaitForSingleObject(wake_, 100);
      if (running_ && !lost_) Fill();
    }
    if (lost_) client_->Stop();
  }

  // Writes what the device has room for: the track's next frames, silence
  // once the track has ended.
  void Fill() {
    UINT32 padding = 0;
    if (!Check(client_->GetCurrentPadding(&padding)) || padding >= bufferFrames_) return;
    const UINT32 room = bufferFrames_ - padding;
    BYTE* data = nullptr;
    if (!Check(render_->GetBuffer(room, &data))) return;
    auto* out = reinterpret_cast<int16_t*>(data);
    const size_t channels = static_cast<size_t>(ogg_->Channels());
    size_t got = 0;
    while (got < room) {
      const size_t n = ogg_->Read(out + got * channels, room - got);
      if (n == 0) break;
      got += n;
    }
    std::memset(out + got * channels, 0, (room - got) * channels * 2);
    if (!Check(render_->ReleaseBuffer(room, 0))) return;
    std::lock_guard<std::mutex> lock(lock_);
    trackFramesWritten_ += static_cast<int64_t>(got);
  }

  IMMDeviceEnumerator* enumerator_ = nullptr;
  IAudioClient* client_ = nullptr;
  IAudioRenderClient* render_ = nullptr;
  IAudioClock* clock_ = nullptr;
  DeviceWatch* watch_ = nullptr;
  HANDLE wake_ = nullptr;
  bool comInitialized_ = false;
  DWORD comThread_ = 0;
  UINT32 bufferFrames_ = 0;
  UINT64 clockFrequency_ = 0;
  std::unique_ptr<OggStream> ogg_;
  std::thread feeder_;
  std::atomic<bool> running_{false};
  std::atomic<bool> lost_{false};
  std::mutex lock_;
  int64_t trackFramesWritten_ = 0;
  int64_t reported_ = 0;
};

}  // namespace

std::unique_ptr<ResumableAudio> NewWasapiAudio() { return std::make_unique<WasapiAudio>(); }

IMMNotificationClient* WasapiNotifications(ResumableAudio& backend) {
  auto* wasapi = dynamic_cast<WasapiAudio*>(&backend);
  return wasapi ? wasapi->watch() : nullptr;
}

}  // namespace platform::audio

namespace platform {
std::unique_ptr<Audio> CreateWasapiAudio() { return audio::NewWasapiAudio(); }
}  // namespace platform
