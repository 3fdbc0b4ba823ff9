// PulseAudio's audio backend: the Ogg stream is written into a libpulse
// playback stream and its position is the server's own account of the
// sample being played.
//
// The server is asked for that account ten times a second. Between reports the
// position is read off a line through the recent reports (ReportClock,
// music_clock.h), not libpulse's own interpolation: measured against the
// sink's monitor, that drifts by a few milliseconds a second after a
// suspend. PipeWire's pulse service (0.3.65) reports as played every frame its graph has taken, a whole quantum at the
// start of each cycle, and no sink latency: the line runs half a quantum
// ahead of the sample played (12 ms at the usual 1024 frames), and the
// reports themselves up to a whole one. There the sound server's choice is
// PipeWire's own stream (pipewire_audio.cpp).
//
// How it fails: Init fails where no server answers within two seconds (it
// never starts one). A server that goes away mid-run leaves the position a
// little past its last report and says so (Lost); a starved stream is heard
// as a gap and its position stands until data flows again.
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <memory>

#include "platform/audio/backend.h"
#include "platform/audio/music_clock.h"
#include "platform/audio/ogg_stream.h"
#include "platform/platform.h"

namespace platform {
namespace {

using audio::kStream;
using audio::MonotonicSeconds;

// How long a server may take to accept the connection or the stream before
// start-up gives up on it (and the desktop backend falls back to SDL).
constexpr pa_usec_t kConnectTimeout = 2 * PA_USEC_PER_SEC;
// What the stream asks the server to hold. Its length costs nothing (the
// position accounts for it, and corking stops the sound at once), and a
// machine busy enough to hold up the decoding thread for a fifth of a
// second is rare; an underrun is heard as a gap.
constexpr pa_usec_t kTargetLatency = 200 * PA_USEC_PER_MSEC;

// How often the server is asked for a report.
constexpr pa_usec_t kReportInterval = 100 * PA_USEC_PER_MSEC;

class PulseAudio final : public audio::ResumableAudio {
 public:
  ~PulseAudio() override { Free(); }

  bool Init(int device, int frequency) override {
    if (loop_ || device != -1 || frequency <= 0) return false;
    loop_ = pa_threaded_mainloop_new();
    if (!loop_) return false;
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "sorvane");
    if (!context_ || pa_threaded_mainloop_start(loop_) < 0) {
      Free();
      return false;
    }
    pa_threaded_mainloop_lock(loop_);
    pa_context_set_state_callback(context_, &PulseAudio::Signal, this);
    bool ready = pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
                 WaitUntil([this] {
                   const pa_context_state_t s = pa_context_get_state(context_);
                   return s == PA_CONTEXT_READY || !PA_CONTEXT_IS_GOOD(s);
                 }) &&
                 pa_context_get_state(context_) == PA_CONTEXT_READY;
    pa_threaded_mainloop_unlock(loop_);
    if (!ready) Free();
    return ready;
  }

  uint32_t StreamCreateFile(const char* path) override {
    if (!loop_ || stream_) return 0;
    auto ogg = std::make_unique<OggStream>();
    if (!ogg->Open(path) || (startFrame_ > 0 && !ogg->Seek(startFrame_))) return 0;
    const pa_sample_spec spec{PA_SAMPLE_S16NE, static_cast<uint32_t>(ogg->Rate()),
                              static_cast<uint8_t>(ogg->Channels())};
    pa_threaded_mainloop_lock(loop_);
    pa_stream* stream = pa_stream_new(context_, "music", &spec, nullptr);
    bool ready = stream != nullptr;
    if (ready) {
      ogg_ = std::move(ogg);
      clock_ = std::make_unique<ReportClock>(ogg_->Rate());
      frameBytes_ = static_cast<size_t>(pa_frame_size(&spec));
      pa_stream_set_state_callback(stream, &PulseAudio::Signal, this);
      pa_stream_set_write_callback(stream, &PulseAudio::OnWrite, this);
      pa_stream_set_latency_update_callback(stream, &PulseAudio::OnTiming, this);
      pa_buffer_attr attr;
      attr.maxlength = static_cast<uint32_t>(-1);
      attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatency, &spec));
      attr.prebuf = static_cast<uint32_t>(-1);
      attr.minreq = static_cast<uint32_t>(-1);
      attr.fragsize = static_cast<uint32_t>(-1);
      // Corked until ChannelPlay: the stream's time starts with its first
      // sample, not with the device.
      const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_START_CORKED | PA_STREAM_AUTO_TIMING_UPDATE |
                                                        PA_STREAM_ADJUST_LATENCY);
      ready = pa_stream_connect_playback(stream, nullptr, &attr, flags, nullptr, nullptr) >= 0 &&
              WaitUntil([stream] {
                const pa_stream_state_t s = pa_stream_get_state(stream);
                return s == PA_STREAM_READY || !PA_STREAM_IS_GOOD(s);
              }) &&
              pa_stream_get_state(stream) == PA_STREAM_READY;
      if (ready) {
        stream_ = stream;
        // libpulse's own updates thin out to one every 1.5 s; the line wants
        // one every 100 ms, to see a stop or a jump at once.
        timer_ = pa_context_rttime_new(context_, pa_rtclock_now() + kReportInterval, &PulseAudio::OnTimer, this);
      } else {
        pa_stream_set_write_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        ogg_.reset();
        clock_.reset();
      }
    }
    pa_threaded_mainloop_unlock(loop_);
    return ready ? kStream : 0;
  }

  // The server's output runs as soon as the context is connected.
  bool Start() override { return loop_ != nullptr; }

  bool ChannelPlay(uint32_t stream, bool) override { return Cork(stream, false); }

  int64_t PlayedFrames() override {
    if (!loop_ || !stream_) return 0;
    pa_threaded_mainloop_lock(loop_);
    const int64_t position = clock_->PlayedFrames(MonotonicSeconds(), written_);
    pa_threaded_mainloop_unlock(loop_);
    return position;
  }

  Track Playing() override { return stream_ && ogg_ ? Track{ogg_->Rate(), ogg_->Channels()} : Track{}; }

  bool Stop() override { return Cork(kStream, true) || loop_ != nullptr; }

  bool Lost() override {
    if (!loop_) return false;
    pa_threaded_mainloop_lock(loop_);
    const bool contextGone = !PA_CONTEXT_IS_GOOD(pa_context_get_state(context_));
    const bool streamGone = stream_ && !PA_STREAM_IS_GOOD(pa_stream_get_state(stream_));
    pa_threaded_mainloop_unlock(loop_);
    return contextGone || streamGone;
  }

  bool Free() override {
    if (!loop_) return false;
    pa_threaded_mainloop_lock(loop_);
    if (timer_) pa_threaded_mainloop_get_api(loop_)->time_free(timer_);
    timer_ = nullptr;
    if (stream_) {
      pa_stream_set_write_callback(stream_, nullptr, nullptr);
      pa_stream_set_latency_update_callback(stream_, nullptr, nullptr);
      pa_stream_set_state_callback(stream_, nullptr, nullptr);
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
      stream_ = nullptr;
    }
    if (context_) {
      pa_context_set_state_callback(context_, nullptr, nullptr);
      pa_context_disconnect(context_);
    }
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    if (context_) pa_context_unref(context_);
    context_ = nullptr;
    pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
    ogg_.reset();
    written_ = 0;
    clock_.reset();
    ended_ = false;
    return true;
  }

 private:

  static void Signal(void* self) { pa_threaded_mainloop_signal(static_cast<PulseAudio*>(self)->loop_, 0); }
  static void Signal(pa_context*, void* self) { Signal(self); }
  static void Signal(pa_stream*, void* self) { Signal(self); }
  static void Signal(pa_stream*, int, void* self) { Signal(self); }

  // Waits on the locked main loop until `done` holds or the connect timeout
  // passes; false on the timeout.
  template <typename Done>
  bool WaitUntil(Done done) {
    bool timedOut = false;
    struct Timer {
      PulseAudio* self;
      bool* flag;
    } timer{this, &timedOut};
    pa_time_event* event = pa_context_rttime_new(
        context_, pa_rtclock_now() + kConnectTimeout,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
          auto* t = static_cast<Timer*>(data);
          *t->flag = true;
          Signal(t->self);
        },
        &timer);
    while (!done() && !timedOut) pa_threaded_mainloop_wait(loop_);
    if (event) pa_threaded_mainloop_get_api(loop_)->time_free(event);
    return done();
  }

  bool Cork(uint32_t stream, bool cork) {
    if (!loop_ || stream != kStream || !stream_) return false;
    pa_threaded_mainloop_lock(loop_);
    pa_operation* op = pa_stream_cork(stream_, cork ? 1 : 0, nullptr, nullptr);
    if (op) pa_operation_unref(op);
    pa_threaded_mainloop_unlock(loop_);
    return op != nullptr;
  }

  // Runs on the main loop's thread with its lock held, as each timing report
  // arrives. Without interpolation libpulse's time is the report's own: the
  // sample played when it arrived (transport delay and sink latency
  // accounted for).
  static void OnTiming(pa_stream* stream, void* data) {
    auto* self = static_cast<PulseAudio*>(data);
    const pa_timing_info* info = pa_stream_get_timing_info(stream);
    pa_usec_t usec = 0;
    if (!info || pa_stream_get_time(stream, &usec) < 0) return;
    const bool moving = info->playing && !pa_stream_is_corked(stream) && !pa_stream_is_suspended(stream);
    const double frames = static_cast<double>(usec) * self->ogg_->Rate() / PA_USEC_PER_SEC;
    self->clock_->OnReport(MonotonicSeconds(), frames, moving);
  }

  static void OnTimer(pa_mainloop_api*, pa_time_event* event, const struct timeval*, void* data) {
    auto* self = static_cast<PulseAudio*>(data);
    if (pa_operation* op = pa_stream_update_timing_info(self->stream_, nullptr, nullptr)) pa_operation_unref(op);
    pa_context_rttime_restart(self->context_, event, pa_rtclock_now() + kReportInterval);
  }

  // Runs on the main loop's thread with its lock held: decodes as much as the
  // server asks for.
  static void OnWrite(pa_stream* stream, size_t bytes, void* data) {
    auto* self = static_cast<PulseAudio*>(data);
    while (bytes >= self->frameBytes_ && !self->ended_) {
      void* buffer = nullptr;
      size_t size = bytes;
      if (pa_stream_begin_write(stream, &buffer, &size) < 0 || !buffer) return;
      const size_t wanted = std::min(size, bytes) / self->frameBytes_;
      size_t got = 0;
      while (got < wanted) {
        const size_t n = self->ogg_->Read(static_cast<int16_t*>(buffer) + got * self->frameBytes_ / 2, wanted - got);
        if (n == 0) break;
        got += n;
      }
      if (got == 0) {
        pa_stream_cancel_write(stream);
      } else {
        pa_stream_write(stream, buffer, got * self->frameBytes_, nullptr, 0, PA_SEEK_RELATIVE);
        self->written_ += static_cast<int64_t>(got);
      }
      bytes -= std::min(bytes, got * self->frameBytes_);
      if (got < wanted) {
        // The track has ended: a track shorter than the prebuffer must
        // still play, so playback starts without waiting for more.
        self->ended_ = true;
        if (pa_operation* op = pa_stream_trigger(stream, nullptr, nullptr)) pa_operation_unref(op);
      }
    }
  }

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  pa_time_event* timer_ = nullptr;
  std::unique_ptr<OggStream> ogg_;
  size_t frameBytes_ = 4;
  // Written and read under the main loop's lock.
  int64_t written_ = 0;  // stream frames handed to the server
  std::unique_ptr<ReportClock> clock_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<Audio> CreatePulseAudio() { return std::make_unique<PulseAudio>(); }

namespace audio {
std::unique_ptr<ResumableAudio> NewPulseAudio() { return std::make_unique<PulseAudio>(); }
}  // namespace audio

}  // namespace platform
