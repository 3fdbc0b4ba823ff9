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
// count): Windows' own converter (AUTOCONVERTPCM, with its better-quality
// resampler where the system has it) brings it to the device's mix format,
// its rate and its speakers (a mono endpoint gets both channels mixed; more
// than two keep the front pair). So the device's position counts frames of
// the track.
//
// Every COM object of a backend lives on one thread of its own, the
// stream's: it makes them, calls them and releases them, with COM
// initialised on it from its first call to its last (the render client and
// the clock must be released on the thread that got them). Other threads
// hand it tasks and wait for the answers, and read the position it
// publishes; they never touch COM.
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
// stream even without the optional resampler flag (a system without the
// converter among them). The resuming choice then tries SDL's device, and
// comes back here as soon as a stream opens.
#include "platform/audio/wasapi_audio.h"

#include <windows.h>
// After windows.h, which they need.
#include <audioclient.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "platform/audio/ogg_stream.h"

#ifndef AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM
#define AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM 0x80000000
#endif
#ifndef AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY
#define AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY 0x08000000
#endif

namespace platform::audio {
namespace {

// What the stream asks the engine to hold: enough for a busy machine (the
// position accounts for all of it).
constexpr REFERENCE_TIME kBufferDuration = 2000000;  // 200 ms in 100 ns units
// How often the stream's thread looks at the device when no event wakes it
// (a stream not yet started, an output that stopped asking).
constexpr DWORD kPollMilliseconds = 10;
// The furthest a reading of the device's position is carried forward.
constexpr double kCarrySeconds = 0.05;

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
// marks the output lost and wakes the stream's thread. It holds a handle of
// its own to the wake event, so a notice that comes while the backend is
// being freed never touches a closed one.
class DeviceWatch final : public IMMNotificationClient {
 public:
  DeviceWatch(std::wstring endpoint, std::atomic<bool>* lost, HANDLE wake) : endpoint_(std::move(endpoint)), lost_(lost) {
    if (!DuplicateHandle(GetCurrentProcess(), wake, GetCurrentProcess(), &wake_, 0, FALSE, DUPLICATE_SAME_ACCESS))
      wake_ = nullptr;
  }

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
  ~DeviceWatch() {
    if (wake_) CloseHandle(wake_);
  }
  bool Ours(LPCWSTR id) const { return id && endpoint_ == id; }
  void Lose() {
    *lost_ = true;
    if (wake_) SetEvent(wake_);
  }

  const std::wstring endpoint_;
  std::atomic<bool>* const lost_;
  HANDLE wake_ = nullptr;
  std::atomic<ULONG> references_{1};
};

class WasapiAudio final : public ResumableAudio {
 public:
  ~WasapiAudio() override { Free(); }

  bool Init(int device, int frequency) override {
    if (thread_.joinable() || device != -1 || frequency <= 0) return false;
    wake_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    tasks_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (wake_ && tasks_) {
      quit_ = false;
      thread_ = std::thread([this] { Run(); });
      if (Call([this] { return OpenDevice(); })) return true;
    }
    Free();
    return false;
  }

  uint32_t StreamCreateFile(const char* path) override {
    auto ogg = std::make_unique<OggStream>();
    if (!thread_.joinable() || rate_ || !ogg->Open(path) || (startFrame_ > 0 && !ogg->Seek(startFrame_))) return 0;
    const int rate = ogg->Rate(), channels = ogg->Channels();
    if (!Call([&] { return OpenStream(std::move(ogg)); })) return 0;
    rate_ = rate;
    channels_ = channels;
    return kStream;
  }

  bool Start() override { return thread_.joinable(); }

  bool ChannelPlay(uint32_t stream, bool) override {
    return stream == kStream && rate_ && Call([this] { return (moving_ = Check(client_->Start())); });
  }

  int64_t PlayedFrames() override {
    std::lock_guard<std::mutex> lock(published_);
    if (!rate_ || !reading_.valid) return reported_;
    // The device's position when it was read, moved on to now while the
    // stream plays, never past what was written.
    const double since =
        reading_.moving && !lost_ ? std::clamp(PerformanceSeconds() - reading_.at, 0.0, kCarrySeconds) : 0.0;
    const auto frames = static_cast<int64_t>((reading_.seconds + since) * rate_);
    reported_ = std::clamp(frames, reported_, std::max(reported_, reading_.written));
    return reported_;
  }

  Track Playing() override { return rate_ ? Track{rate_, channels_} : Track{}; }

  bool Stop() override {
    return rate_ && Call([this] {
             moving_ = false;
             return SUCCEEDED(client_->Stop());
           });
  }

  bool Lost() override { return lost_; }

  bool Free() override {
    if (!thread_.joinable() && !wake_ && !tasks_) return false;
    if (thread_.joinable()) {
      quit_ = true;
      SetEvent(tasks_);
      thread_.join();
    }
    for (HANDLE* event : {&wake_, &tasks_}) {
      if (*event) CloseHandle(*event);
      *event = nullptr;
    }
    rate_ = channels_ = 0;
    return true;
  }

  IMMNotificationClient* watch() const { return watch_; }

 private:
  // Runs `task` on the stream's thread and returns its answer.
  bool Call(const std::function<bool()>& task) {
    std::lock_guard<std::mutex> caller(callers_);
    std::unique_lock<std::mutex> lock(taskLock_);
    if (!thread_.joinable()) return false;
    task_ = &task;
    SetEvent(tasks_);
    taskDone_.wait(lock, [this] { return task_ == nullptr; });
    return answer_;
  }

  // The stream's thread: runs the tasks it is handed, tops the device's
  // buffer up, publishes the device's position, and stops a lost stream at
  // once, so that music moved to a new default device does not also go on
  // on the old one.
  void Run() {
    const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    bool stopped = false;
    for (;;) {
      const HANDLE events[] = {tasks_, wake_};
      WaitForMultipleObjects(2, events, FALSE, kPollMilliseconds);
      {
        std::lock_guard<std::mutex> lock(taskLock_);
        if (task_) {
          answer_ = (*task_)();
          task_ = nullptr;
          taskDone_.notify_all();
        }
      }
      if (quit_) break;
      if (!render_ || stopped) continue;
      if (lost_) {
        client_->Stop();
        stopped = true;
        continue;
      }
      Fill();
      ReadClock();
    }
    CloseDevice();
    if (com) CoUninitialize();
  }

  // On the stream's thread: the default output device, and the system's
  // notifications about it.
  bool OpenDevice() {
    LPWSTR id = nullptr;
    const bool ok = SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL,
                                               __uuidof(IMMDeviceEnumerator), reinterpret_cast<void**>(&enumerator_))) &&
                    SUCCEEDED(enumerator_->GetDefaultAudioEndpoint(eRender, eConsole, &endpoint_)) &&
                    SUCCEEDED(endpoint_->GetId(&id)) && Activate();
    if (ok) {
      watch_ = new DeviceWatch(id, &lost_, wake_);
      // Without notifications (an old or partial system) a lost device is
      // still seen through the failing calls.
      if (FAILED(enumerator_->RegisterEndpointNotificationCallback(watch_))) Release(watch_);
    }
    if (id) CoTaskMemFree(id);
    return ok;
  }

  bool Activate() {
    return SUCCEEDED(endpoint_->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&client_)));
  }

  // On the stream's thread: the shared-mode stream in the track's format,
  // fed each time the engine signals, its periodicity 0 as shared mode
  // requires. It asks for a buffer of its own size, which a loaded machine
  // does not let run dry; a system that holds event-driven shared streams to
  // the engine's own buffer (both durations 0) gets that. The better
  // resampler is asked for but optional. Each refusal is followed by the
  // next of these, on a fresh client (one whose Initialize failed is not
  // initialised again).
  bool OpenStream(std::unique_ptr<OggStream> ogg) {
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = static_cast<WORD>(ogg->Channels());
    format.nSamplesPerSec = static_cast<DWORD>(ogg->Rate());
    format.wBitsPerSample = 16;
    format.nBlockAlign = static_cast<WORD>(format.nChannels * 2);
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    constexpr DWORD kNeeded = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM;
    constexpr DWORD kBetter = kNeeded | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
    const std::pair<DWORD, REFERENCE_TIME> tries[] = {{kBetter, kBufferDuration}, {kBetter, 0}, {kNeeded, 0}};
    bool initialized = false;
    for (const auto& [flags, duration] : tries) {
      if (!client_ && !Activate()) return false;
      initialized = SUCCEEDED(client_->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, duration, 0, &format, nullptr));
      if (initialized) break;
      Release(client_);
    }
    UINT32 bufferFrames = 0;
    const bool ok =
        initialized && SUCCEEDED(client_->SetEventHandle(wake_)) && SUCCEEDED(client_->GetBufferSize(&bufferFrames)) &&
        SUCCEEDED(client_->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&render_))) &&
        SUCCEEDED(client_->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&clock_))) &&
        SUCCEEDED(clock_->GetFrequency(&clockFrequency_)) && clockFrequency_ > 0;
    if (!ok) {
      Release(render_);
      Release(clock_);
      return false;
    }
    ogg_ = std::move(ogg);
    bufferFrames_ = bufferFrames;
    // The device starts on the track's first frames, not on silence.
    Fill();
    ReadClock();
    return true;
  }

  // On the stream's thread, as it ends: everything let go where it was made.
  void CloseDevice() {
    if (client_) client_->Stop();
    if (watch_) enumerator_->UnregisterEndpointNotificationCallback(watch_);
    Release(watch_);
    Release(render_);
    Release(clock_);
    Release(client_);
    Release(endpoint_);
    Release(enumerator_);
    ogg_.reset();
  }

  // A failed call means the stream is gone, whatever the code: the device
  // invalidated is the usual one, and no other leaves a stream worth keeping.
  bool Check(HRESULT result) {
    if (FAILED(result)) lost_ = true;
    return SUCCEEDED(result);
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
    written_ += static_cast<int64_t>(got);
  }

  // Publishes the device's position and when it was taken (its counter time
  // is in 100 ns units of the performance counter). A reading the clock
  // calls inexact (S_FALSE) is passed over.
  void ReadClock() {
    UINT64 position = 0, counter = 0;
    const HRESULT result = clock_->GetPosition(&position, &counter);
    if (!Check(result) || result != S_OK) return;
    std::lock_guard<std::mutex> lock(published_);
    reading_ = {true, moving_, static_cast<double>(position) / static_cast<double>(clockFrequency_),
                static_cast<double>(counter) * 1e-7, written_};
  }

  // Made and used on the stream's thread alone.
  IMMDeviceEnumerator* enumerator_ = nullptr;
  IMMDevice* endpoint_ = nullptr;
  IAudioClient* client_ = nullptr;
  IAudioRenderClient* render_ = nullptr;
  IAudioClock* clock_ = nullptr;
  DeviceWatch* watch_ = nullptr;
  UINT32 bufferFrames_ = 0;
  UINT64 clockFrequency_ = 0;
  std::unique_ptr<OggStream> ogg_;
  int64_t written_ = 0;  // frames of the track written to the device
  bool moving_ = false;  // started and not stopped

  // The thread, and the task it is handed.
  std::thread thread_;
  HANDLE wake_ = nullptr, tasks_ = nullptr;
  std::atomic<bool> quit_{false};
  std::atomic<bool> lost_{false};
  std::mutex callers_, taskLock_;
  std::condition_variable taskDone_;
  const std::function<bool()>* task_ = nullptr;
  bool answer_ = false;

  // What the other threads read: the stream's track, and the position.
  int rate_ = 0, channels_ = 0;
  struct Reading {
    bool valid = false, moving = false;
    double seconds = 0, at = 0;  // the device's position, and when (performance counter)
    int64_t written = 0;
  };
  std::mutex published_;
  Reading reading_;
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
