// PipeWire's own audio backend: the Ogg stream is decoded into a native
// PipeWire stream on the graph's thread, as each cycle asks for it, and its
// position is the graph's account of the sample being played.
//
// Why not the pulse service: its timing reports leave out the stream's own
// queue in the server. Measured against the graph's cycles (0.3.65, null
// sink), a libpulse stream's reported position runs one and a half graph
// quanta ahead of the sample played: 4 ms at a quantum of 128 frames, 34 ms
// at the usual 1024. The graph's time says it all: each cycle begins at a
// known monotonic time (`pw_time.now`), and the frame the stream hands over
// next is played after what is queued in the stream, what its converter
// holds and the graph's delay to the device (`queued`, `buffered`, `delay`).
// So the frame played when the cycle began is the frames handed over less
// those three; CycleClock (music_clock.h) moves it on between cycles, as far
// as the graph's driver says it has gone: its clock (shared with every node)
// marks each new cycle before this stream's thread wakes for it, which on a
// busy machine can be milliseconds later.
//
// How it fails: Init fails, at once or within two seconds, where no PipeWire
// daemon answers or none of its nodes is an audio sink (PipeWire kept for
// video beside another sound server); StreamCreateFile fails where no sink
// takes the stream within two seconds (no session manager links it). A graph
// that stops leaves the position at the last frame it played.
#include <pipewire/pipewire.h>
#include <spa/node/io.h>
#include <spa/param/audio/format-utils.h>
#include <spa/utils/result.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/audio/backend.h"
#include "platform/audio/music_clock.h"
#include "platform/audio/ogg_stream.h"
#include "platform/platform.h"

namespace platform {
namespace {

using audio::kStream;
using audio::MonotonicSeconds;

// How long the daemon may take to list its nodes, or a sink to take the
// stream, before start-up gives up on it (and the next backend is tried).
constexpr int kConnectSeconds = 2;

class PipeWireAudio final : public audio::ResumableAudio {
 public:
  PipeWireAudio() { pw_init(nullptr, nullptr); }
  ~PipeWireAudio() override {
    Free();
    pw_deinit();
  }

  bool Init(int device, int frequency) override {
    if (loop_ || device != -1 || frequency <= 0) return false;
    loop_ = pw_thread_loop_new("sorvane-audio", nullptr);
    if (!loop_) return false;
    context_ = pw_context_new(pw_thread_loop_get_loop(loop_), nullptr, 0);
    if (!context_ || pw_thread_loop_start(loop_) < 0) {
      Free();
      return false;
    }
    pw_thread_loop_lock(loop_);
    core_ = pw_context_connect(context_, nullptr, 0);
    const bool ready = core_ && HasAudioSink();
    pw_thread_loop_unlock(loop_);
    if (!ready) Free();
    return ready;
  }

  uint32_t StreamCreateFile(const char* path) override {
    if (!core_ || stream_) return 0;
    auto ogg = std::make_unique<OggStream>();
    if (!ogg->Open(path) || (startFrame_ > 0 && !ogg->Seek(startFrame_))) return 0;
    pw_thread_loop_lock(loop_);
    pw_stream* stream = pw_stream_new(core_, "music",
                                      pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                                                        PW_KEY_MEDIA_ROLE, "Music", nullptr));
    bool ready = stream != nullptr;
    if (ready) {
      ogg_ = std::move(ogg);
      clock_ = std::make_unique<CycleClock>(ogg_->Rate());
      frameBytes_ = static_cast<size_t>(ogg_->Channels()) * 2;
      stream_ = stream;
      static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = &PipeWireAudio::OnState;
        e.process = &PipeWireAudio::OnProcess;
        e.io_changed = &PipeWireAudio::OnIoChanged;
        return e;
      }();
      pw_stream_add_listener(stream_, &streamListener_, &events, this);
      uint8_t buffer[512];
      spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
      spa_audio_info_raw info{};
      info.format = SPA_AUDIO_FORMAT_S16;
      info.rate = static_cast<uint32_t>(ogg_->Rate());
      info.channels = static_cast<uint32_t>(ogg_->Channels());
      if (info.channels == 1) {
        info.position[0] = SPA_AUDIO_CHANNEL_MONO;
      } else {
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
      }
      const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
      // Inactive until ChannelPlay: the stream's time starts with its first
      // sample. Filled on the graph's thread, inside the cycle that plays it.
      const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                      PW_STREAM_FLAG_INACTIVE | PW_STREAM_FLAG_RT_PROCESS);
      ready = pw_stream_connect(stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) == 0 &&
              WaitUntil([this] {
                const pw_stream_state s = pw_stream_get_state(stream_, nullptr);
                return s == PW_STREAM_STATE_PAUSED || s == PW_STREAM_STATE_STREAMING || s == PW_STREAM_STATE_ERROR;
              }) &&
              pw_stream_get_state(stream_, nullptr) != PW_STREAM_STATE_ERROR && WaitForLink();
      if (!ready) DestroyStream();
    }
    pw_thread_loop_unlock(loop_);
    return ready ? kStream : 0;
  }

  // The graph runs as soon as the daemon is connected.
  bool Start() override { return core_ != nullptr; }

  bool ChannelPlay(uint32_t stream, bool) override { return SetActive(stream, true); }

  int64_t PlayedFrames() override {
    if (!stream_) return 0;
    double graphCycle = 0.0;
    if (spa_io_position* position = position_.load())
      graphCycle = static_cast<double>(std::atomic_ref<uint64_t>(position->clock.nsec).load()) * 1e-9;
    std::lock_guard<std::mutex> lock(clockLock_);
    return clock_->PlayedFrames(MonotonicSeconds(), written_, graphCycle);
  }

  Track Playing() override { return stream_ && ogg_ ? Track{ogg_->Rate(), ogg_->Channels()} : Track{}; }

  bool Stop() override { return SetActive(kStream, false) || core_ != nullptr; }

  // A daemon that goes away takes the stream's connection with it.
  bool Lost() override {
    if (!loop_ || !stream_) return false;
    pw_thread_loop_lock(loop_);
    const pw_stream_state state = pw_stream_get_state(stream_, nullptr);
    pw_thread_loop_unlock(loop_);
    return state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED;
  }

  bool Free() override {
    if (!loop_) return false;
    pw_thread_loop_lock(loop_);
    DestroyStream();
    if (core_) pw_core_disconnect(core_);
    core_ = nullptr;
    pw_thread_loop_unlock(loop_);
    pw_thread_loop_stop(loop_);
    if (context_) pw_context_destroy(context_);
    context_ = nullptr;
    pw_thread_loop_destroy(loop_);
    loop_ = nullptr;
    return true;
  }

 private:

  // A stream that reaches its paused state is not yet heard: without a
  // session manager nothing links it to a sink, and it would wait for ever.
  // Asks the registry every 50 ms, for the connect time at most. Called with
  // the loop locked.
  bool WaitForLink() {
    timespec deadline;
    pw_thread_loop_get_time(loop_, &deadline, kConnectSeconds * SPA_NSEC_PER_SEC);
    while (!IsLinked()) {
      timespec pause;
      pw_thread_loop_get_time(loop_, &pause, 50 * SPA_NSEC_PER_MSEC);
      pw_thread_loop_timed_wait_full(loop_, &pause);
      timespec now;
      pw_thread_loop_get_time(loop_, &now, 0);
      if (now.tv_sec > deadline.tv_sec || (now.tv_sec == deadline.tv_sec && now.tv_nsec >= deadline.tv_nsec))
        return false;
    }
    return true;
  }

  // Waits on the locked loop until `done` holds or the connect time passes;
  // false on the timeout. Every event that can change `done` signals.
  template <typename Done>
  bool WaitUntil(Done done) {
    timespec deadline;
    pw_thread_loop_get_time(loop_, &deadline, kConnectSeconds * SPA_NSEC_PER_SEC);
    while (!done())
      if (pw_thread_loop_timed_wait_full(loop_, &deadline) != 0) break;
    return done();
  }

  // Whether the daemon has an audio sink, from one round trip over its
  // registry. Called with the loop locked.
  bool HasAudioSink() {
    return AnyGlobal(PW_TYPE_INTERFACE_Node, [](const spa_dict* props) {
      const char* mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
      return mediaClass && std::strcmp(mediaClass, "Audio/Sink") == 0;
    });
  }

  // Whether a link leads out of the stream's node (to a sink: a session
  // manager made it). Called with the loop locked.
  bool IsLinked() {
    const std::string node = std::to_string(pw_stream_get_node_id(stream_));
    return AnyGlobal(PW_TYPE_INTERFACE_Link, [&node](const spa_dict* props) {
      const char* output = spa_dict_lookup(props, PW_KEY_LINK_OUTPUT_NODE);
      return output && node == output;
    });
  }

  // One round trip over the daemon's registry: whether any of its objects of
  // `type` has properties that `match`. Called with the loop locked.
  bool AnyGlobal(const char* type, const std::function<bool(const spa_dict*)>& match) {
    struct Listing {
      PipeWireAudio* self;
      const char* type;
      const std::function<bool(const spa_dict*)>* match;
      bool found = false, done = false, failed = false;
      int seq = 0;
    } listing{this, type, &match};
    pw_registry* registry = pw_core_get_registry(core_, PW_VERSION_REGISTRY, 0);
    if (!registry) return false;
    static const pw_registry_events registryEvents = [] {
      pw_registry_events e{};
      e.version = PW_VERSION_REGISTRY_EVENTS;
      e.global = [](void* data, uint32_t, uint32_t, const char* type, uint32_t, const spa_dict* props) {
        auto* l = static_cast<Listing*>(data);
        if (props && std::strcmp(type, l->type) == 0 && (*l->match)(props)) l->found = true;
      };
      return e;
    }();
    static const pw_core_events coreEvents = [] {
      pw_core_events e{};
      e.version = PW_VERSION_CORE_EVENTS;
      e.done = [](void* data, uint32_t id, int seq) {
        auto* l = static_cast<Listing*>(data);
        if (id == PW_ID_CORE && seq == l->seq) l->done = true;
        pw_thread_loop_signal(l->self->loop_, false);
      };
      e.error = [](void* data, uint32_t id, int, int, const char*) {
        auto* l = static_cast<Listing*>(data);
        if (id == PW_ID_CORE) l->failed = true;
        pw_thread_loop_signal(l->self->loop_, false);
      };
      return e;
    }();
    spa_hook registryListener{}, coreListener{};
    pw_registry_add_listener(registry, &registryListener, &registryEvents, &listing);
    pw_core_add_listener(core_, &coreListener, &coreEvents, &listing);
    listing.seq = pw_core_sync(core_, PW_ID_CORE, 0);
    WaitUntil([&listing] { return listing.done || listing.failed; });
    spa_hook_remove(&coreListener);
    spa_hook_remove(&registryListener);
    pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
    return listing.done && listing.found;
  }

  bool SetActive(uint32_t stream, bool active) {
    if (!loop_ || stream != kStream || !stream_) return false;
    pw_thread_loop_lock(loop_);
    const bool ok = pw_stream_set_active(stream_, active) == 0;
    pw_thread_loop_unlock(loop_);
    return ok;
  }

  // Called with the loop locked.
  void DestroyStream() {
    if (!stream_) return;
    spa_hook_remove(&streamListener_);
    pw_stream_destroy(stream_);
    stream_ = nullptr;
    ogg_.reset();
    clock_.reset();
    position_ = nullptr;
    written_ = 0;
    ended_ = false;
  }

  // The driver's position, where this stream reads the graph's clock; gone
  // (null) before the stream is torn down.
  static void OnIoChanged(void* data, uint32_t id, void* area, uint32_t size) {
    if (id == SPA_IO_Position)
      static_cast<PipeWireAudio*>(data)->position_ =
          area && size >= sizeof(spa_io_position) ? static_cast<spa_io_position*>(area) : nullptr;
  }

  static void OnState(void* data, pw_stream_state, pw_stream_state, const char*) {
    pw_thread_loop_signal(static_cast<PipeWireAudio*>(data)->loop_, false);
  }

  // Runs on the graph's thread once a cycle, while the graph waits for the
  // stream: fills one buffer with what the cycle asks for, and notes where
  // that puts the frame played as the cycle began.
  static void OnProcess(void* data) {
    auto* self = static_cast<PipeWireAudio*>(data);
    pw_time time{};
    if (pw_stream_get_time_n(self->stream_, &time, sizeof time) < 0) return;
    pw_buffer* b = pw_stream_dequeue_buffer(self->stream_);
    if (!b) return;
    spa_data& d = b->buffer->datas[0];
    const size_t room = d.data ? d.maxsize / self->frameBytes_ : 0;
    const size_t wanted = std::min(room, b->requested > 0 ? static_cast<size_t>(b->requested) : room);
    auto* out = static_cast<int16_t*>(d.data);
    size_t got = 0;
    while (got < wanted && !self->ended_) {
      const size_t n = self->ogg_->Read(out + got * self->frameBytes_ / 2, wanted - got);
      if (n == 0) self->ended_ = true;
      got += n;
    }
    // After the track's end the graph is given silence, not a short buffer:
    // the stream's frames all play, and the clock stands at the last.
    if (wanted > got) std::memset(out + got * self->frameBytes_ / 2, 0, (wanted - got) * self->frameBytes_);
    d.chunk->offset = 0;
    d.chunk->stride = static_cast<int32_t>(self->frameBytes_);
    d.chunk->size = static_cast<uint32_t>(wanted * self->frameBytes_);
    b->size = wanted;  // `queued` counts frames
    if (time.now != 0 && time.rate.denom != 0) {
      const double rate = self->ogg_->Rate();
      const double delay = static_cast<double>(time.delay) * time.rate.num / time.rate.denom * rate;
      const double first = static_cast<double>(self->written_) - static_cast<double>(time.queued) -
                           static_cast<double>(time.buffered) - delay;
      std::lock_guard<std::mutex> lock(self->clockLock_);
      self->clock_->OnCycle(static_cast<double>(time.now) * 1e-9, first, static_cast<int64_t>(wanted));
      self->written_ += static_cast<int64_t>(got);
    } else {
      std::lock_guard<std::mutex> lock(self->clockLock_);
      self->written_ += static_cast<int64_t>(got);
    }
    pw_stream_queue_buffer(self->stream_, b);
  }

  pw_thread_loop* loop_ = nullptr;
  pw_context* context_ = nullptr;
  pw_core* core_ = nullptr;
  pw_stream* stream_ = nullptr;
  spa_hook streamListener_{};
  std::atomic<spa_io_position*> position_{nullptr};
  std::unique_ptr<OggStream> ogg_;
  size_t frameBytes_ = 4;
  bool ended_ = false;  // the graph's thread alone
  // The graph's thread writes these and the demo's reads them.
  std::mutex clockLock_;
  std::unique_ptr<CycleClock> clock_;
  int64_t written_ = 0;  // stream frames handed to the graph
};

}  // namespace

std::unique_ptr<Audio> CreatePipeWireAudio() { return std::make_unique<PipeWireAudio>(); }

namespace audio {
std::unique_ptr<ResumableAudio> NewPipeWireAudio() { return std::make_unique<PipeWireAudio>(); }
}  // namespace audio

}  // namespace platform
