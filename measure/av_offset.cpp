#include "measure/av_offset.h"

#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <pipewire/pipewire.h>
#include <pulse/pulseaudio.h>
#include <spa/param/audio/format-utils.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <thread>

#include "platform/audio/ogg_stream.h"
#include "measure/workbench.h"

namespace avoffset {
namespace {

constexpr long kMatchFrames = 3;
// The pretend card's reader woken late has left that much more in the pipe
// for a moment: a timing report the sink makes then has that much more
// latency, and the clock is that far behind until the next report (they
// come about every 0.1 s). Wakes later than kStallMs are kept, so that a
// click that far behind just after one can be told from a fault.
constexpr double kStallMs = 2.0;
constexpr double kStallShadowSeconds = 0.3;

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point t) { return std::chrono::duration<double>(t.time_since_epoch()).count(); }

// ---- the click track -------------------------------------------------------


// Frames where a click starts: the first sample above a third of full scale
// after at least 30 ms below it. The same detector runs on the decoded track
// and on the recording, so its own bias cancels.
std::vector<long> DetectClicks(const std::vector<int16_t>& mono) {
  std::vector<long> found;
  long quiet = kRate;
  for (size_t i = 0; i < mono.size(); ++i) {
    if (std::abs(static_cast<int>(mono[i])) > 32767 / 3) {
      if (quiet >= kRate * 30 / 1000) found.push_back(static_cast<long>(i));
      quiet = 0;
    } else {
      ++quiet;
    }
  }
  return found;
}

std::vector<int16_t> DecodeLeft(const std::string& path) {
  platform::OggStream ogg;
  std::vector<int16_t> left;
  if (!ogg.Open(path.c_str())) return left;
  std::vector<int16_t> buf(4096 * static_cast<size_t>(ogg.Channels()));
  size_t n;
  while ((n = ogg.Read(buf.data(), 4096)) > 0)
    for (size_t i = 0; i < n; ++i) left.push_back(buf[i * static_cast<size_t>(ogg.Channels())]);
  return left;
}

// ---- recording the sink's monitor -------------------------------------------


class MonitorRecorder {
 public:
  // `record`: false connects for the server's name and suspends alone.
  bool Start(bool record = true) {
    loop_ = pa_threaded_mainloop_new();
    context_ = pa_context_new(pa_threaded_mainloop_get_api(loop_), "clock_bench recorder");
    pa_context_set_state_callback(context_, [](pa_context*, void* l) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(l), 0); }, loop_);
    if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
    pa_threaded_mainloop_lock(loop_);
    pa_threaded_mainloop_start(loop_);
    while (PA_CONTEXT_IS_GOOD(pa_context_get_state(context_)) && pa_context_get_state(context_) != PA_CONTEXT_READY)
      pa_threaded_mainloop_wait(loop_);
    bool ok = pa_context_get_state(context_) == PA_CONTEXT_READY;
    if (ok && record) {
      const pa_sample_spec spec{PA_SAMPLE_S16NE, kRate, 2};
      stream_ = pa_stream_new(context_, "monitor", &spec, nullptr);
      pa_stream_set_read_callback(stream_, &MonitorRecorder::OnRead, this);
      pa_stream_set_state_callback(stream_, [](pa_stream*, void* l) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(l), 0); }, loop_);
      pa_buffer_attr attr{};
      attr.maxlength = static_cast<uint32_t>(-1);
      attr.fragsize = static_cast<uint32_t>(pa_usec_to_bytes(2 * PA_USEC_PER_MSEC, &spec));
      const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_ADJUST_LATENCY | PA_STREAM_INTERPOLATE_TIMING |
                                                        PA_STREAM_AUTO_TIMING_UPDATE);
      ok = pa_stream_connect_record(stream_, "@DEFAULT_MONITOR@", &attr, flags) >= 0;
      while (ok && PA_STREAM_IS_GOOD(pa_stream_get_state(stream_)) && pa_stream_get_state(stream_) != PA_STREAM_READY)
        pa_threaded_mainloop_wait(loop_);
      ok = ok && pa_stream_get_state(stream_) == PA_STREAM_READY;
    }
    pa_threaded_mainloop_unlock(loop_);
    return ok;
  }

  // "PulseAudio 16.1", "PulseAudio (on PipeWire 0.3.65) 15.0.0", ….
  std::string Name() {
    pa_threaded_mainloop_lock(loop_);
    done_ = false;
    std::string name;
    struct Ask {
      MonitorRecorder* self;
      std::string* name;
    } ask{this, &name};
    pa_operation* op = pa_context_get_server_info(
        context_,
        [](pa_context*, const pa_server_info* info, void* data) {
          auto* a = static_cast<Ask*>(data);
          if (info) *a->name = std::string(info->server_name) + " " + info->server_version;
          a->self->done_ = true;
          pa_threaded_mainloop_signal(a->self->loop_, 0);
        },
        &ask);
    while (op && !done_) pa_threaded_mainloop_wait(loop_);
    if (op) pa_operation_unref(op);
    pa_threaded_mainloop_unlock(loop_);
    return name;
  }

  // The default sink's name; empty if the server does not say.
  std::string DefaultSink() {
    std::string name;
    Await([&](void* self) {
      return pa_context_get_server_info(
          context_,
          [](pa_context*, const pa_server_info* info, void* data) {
            auto* r = static_cast<Reply<std::string>*>(data);
            if (info && info->default_sink_name) *r->value = info->default_sink_name;
            r->Done();
          },
          self);
    }, &name);
    return name;
  }

  bool SetDefaultSink(const std::string& name) {
    int ok = 0;
    Await([&](void* self) { return pa_context_set_default_sink(context_, name.c_str(), &Reply<int>::OnSuccess, self); },
          &ok);
    return ok != 0;
  }

  // The module's index, or PA_INVALID_INDEX.
  uint32_t LoadModule(const std::string& name, const std::string& arguments) {
    uint32_t index = PA_INVALID_INDEX;
    Await([&](void* self) {
      return pa_context_load_module(
          context_, name.c_str(), arguments.c_str(),
          [](pa_context*, uint32_t i, void* data) {
            auto* r = static_cast<Reply<uint32_t>*>(data);
            *r->value = i;
            r->Done();
          },
          self);
    }, &index);
    return index;
  }

  void UnloadModule(uint32_t index) {
    int ok = 0;
    Await([&](void* self) { return pa_context_unload_module(context_, index, &Reply<int>::OnSuccess, self); }, &ok);
  }

  // Moves every stream playing to `sink`; returns when the server has done it.
  double MoveAllTo(const std::string& sink) {
    std::vector<uint32_t> inputs;
    Await([&](void* self) {
      return pa_context_get_sink_input_info_list(
          context_,
          [](pa_context*, const pa_sink_input_info* info, int eol, void* data) {
            auto* r = static_cast<Reply<std::vector<uint32_t>>*>(data);
            if (eol) r->Done();
            else if (info) r->value->push_back(info->index);
          },
          self);
    }, &inputs);
    for (uint32_t input : inputs) {
      int ok = 0;
      Await([&](void* self) {
        return pa_context_move_sink_input_by_name(context_, input, sink.c_str(), &Reply<int>::OnSuccess, self);
      }, &ok);
    }
    return Seconds(Clock::now());
  }

  // Suspends or resumes the default sink; returns when the server has done it.
  double Suspend(bool suspend) {
    pa_threaded_mainloop_lock(loop_);
    done_ = false;
    pa_operation* op = pa_context_suspend_sink_by_name(
        context_, "@DEFAULT_SINK@", suspend ? 1 : 0,
        [](pa_context*, int, void* self) {
          auto* r = static_cast<MonitorRecorder*>(self);
          r->done_ = true;
          pa_threaded_mainloop_signal(r->loop_, 0);
        },
        this);
    while (op && !done_) pa_threaded_mainloop_wait(loop_);
    if (op) pa_operation_unref(op);
    pa_threaded_mainloop_unlock(loop_);
    return Seconds(Clock::now());
  }

  void Stop(std::vector<int16_t>& mono, std::vector<Arrival>& arrivals) {
    pa_threaded_mainloop_lock(loop_);
    if (stream_) {
      pa_stream_disconnect(stream_);
      pa_stream_unref(stream_);
    }
    pa_context_disconnect(context_);
    pa_threaded_mainloop_unlock(loop_);
    pa_threaded_mainloop_stop(loop_);
    pa_context_unref(context_);
    pa_threaded_mainloop_free(loop_);
    mono = std::move(mono_);
    arrivals = std::move(arrivals_);
  }

 private:
  static void OnRead(pa_stream* s, size_t, void* data) {
    auto* self = static_cast<MonitorRecorder*>(data);
    const void* bytes;
    size_t size;
    while (pa_stream_readable_size(s) > 0 && pa_stream_peek(s, &bytes, &size) == 0 && size > 0) {
      const auto* samples = static_cast<const int16_t*>(bytes);
      for (size_t i = 0; i + 1 < size / 2; i += 2) self->mono_.push_back(bytes ? samples[i] : 0);
      pa_stream_drop(s);
    }
    const double now = Seconds(Clock::now());
    pa_usec_t latency = 0;
    int negative = 0;
    if (pa_stream_get_latency(s, &latency, &negative) != 0) return;
    // Latency of a monitor: the newest sample read now was played `latency`
    // ago, or, negative, will be played that much later.
    const double played = now + (negative ? 1.0 : -1.0) * static_cast<double>(latency) / 1e6;
    self->arrivals_.push_back({static_cast<long>(self->mono_.size()), now, played});
  }

  // One answer from the server, carried to the waiting thread.
  template <typename T>
  struct Reply {
    MonitorRecorder* self;
    T* value;
    bool done = false;
    void Done() {
      done = true;
      pa_threaded_mainloop_signal(self->loop_, 0);
    }
    static void OnSuccess(pa_context*, int success, void* data) {
      auto* r = static_cast<Reply*>(data);
      *r->value = success;
      r->Done();
    }
  };

  // Starts an operation with `start(reply)` and waits for its answer.
  template <typename T, typename Start>
  void Await(Start start, T* value) {
    pa_threaded_mainloop_lock(loop_);
    Reply<T> reply{this, value};
    pa_operation* op = start(&reply);
    while (op && !reply.done) pa_threaded_mainloop_wait(loop_);
    if (op) pa_operation_unref(op);
    pa_threaded_mainloop_unlock(loop_);
  }

  pa_threaded_mainloop* loop_ = nullptr;
  pa_context* context_ = nullptr;
  pa_stream* stream_ = nullptr;
  bool done_ = false;
  std::vector<int16_t> mono_;
  std::vector<Arrival> arrivals_;
};

// ---- recording the monitor through PipeWire's own graph ---------------------

// The pulse service's account of its monitor's timing is no reference: its
// latency reports wander by milliseconds from one read to the next, and they
// leave out that the monitor of the sink driving the graph reaches its
// recorders a cycle after the sink played it (the driver's outputs are read
// at the start of the next cycle). A native capture stream knows its cycles
// exactly: a buffer delivered in the cycle that began at `now` holds what the
// sink played over the cycle before, from `now` less the buffer's length on.
// It asks for no latency of its own, so the graph runs at the quantum the
// backend under test leaves it.
class GraphRecorder {
 public:
  GraphRecorder() { pw_init(nullptr, nullptr); }
  ~GraphRecorder() { pw_deinit(); }

  bool Start() {
    loop_ = pw_thread_loop_new("av_offset recorder", nullptr);
    if (!loop_ || pw_thread_loop_start(loop_) < 0) return false;
    pw_thread_loop_lock(loop_);
    static const pw_stream_events events = [] {
      pw_stream_events e{};
      e.version = PW_VERSION_STREAM_EVENTS;
      e.process = &GraphRecorder::OnProcess;
      return e;
    }();
    stream_ = pw_stream_new_simple(pw_thread_loop_get_loop(loop_), "clock_bench recorder",
                                   pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                     PW_KEY_STREAM_CAPTURE_SINK, "true", nullptr),
                                   &events, this);
    uint8_t buffer[512];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_S16;
    info.rate = kRate;
    info.channels = 2;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    const auto flags = static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                                    PW_STREAM_FLAG_RT_PROCESS);
    const bool ok = stream_ && pw_stream_connect(stream_, PW_DIRECTION_INPUT, PW_ID_ANY, flags, params, 1) == 0;
    pw_thread_loop_unlock(loop_);
    return ok;
  }

  void Stop(std::vector<int16_t>& mono, std::vector<Arrival>& arrivals) {
    if (loop_) {
      pw_thread_loop_lock(loop_);
      if (stream_) pw_stream_destroy(stream_);
      stream_ = nullptr;
      pw_thread_loop_unlock(loop_);
      pw_thread_loop_stop(loop_);
      pw_thread_loop_destroy(loop_);
      loop_ = nullptr;
    }
    std::lock_guard<std::mutex> lock(lock_);
    mono = std::move(mono_);
    arrivals = std::move(arrivals_);
  }

  // The graph's quantum as the recording saw it most often (0: none).
  static long Quantum(const std::vector<Arrival>& arrivals) {
    std::vector<long> sizes;
    for (size_t k = 1; k < arrivals.size(); ++k) sizes.push_back(arrivals[k].frames - arrivals[k - 1].frames);
    if (sizes.empty()) return 0;
    std::nth_element(sizes.begin(), sizes.begin() + static_cast<long>(sizes.size() / 2), sizes.end());
    return sizes[sizes.size() / 2];
  }

 private:
  static void OnProcess(void* data) {
    auto* self = static_cast<GraphRecorder*>(data);
    pw_buffer* b = pw_stream_dequeue_buffer(self->stream_);
    if (!b) return;
    pw_time time{};
    const spa_data& d = b->buffer->datas[0];
    if (pw_stream_get_time_n(self->stream_, &time, sizeof time) == 0 && time.now != 0 && time.rate.denom != 0 &&
        d.data && d.chunk->size >= 4) {
      const auto frames = static_cast<long>(d.chunk->size / 4);
      const auto* samples = reinterpret_cast<const int16_t*>(static_cast<const uint8_t*>(d.data) + d.chunk->offset);
      std::lock_guard<std::mutex> lock(self->lock_);
      // Cycles the recorder missed are silence in the recording, so that
      // its frames keep to the graph's time (where the graph runs at the
      // recording's rate).
      if (time.rate.num == 1 && time.rate.denom == kRate && self->lastTicks_ != 0) {
        const auto missed = static_cast<long>(time.ticks - self->lastTicks_) - self->lastFrames_;
        if (missed > 0 && missed < kRate) self->mono_.resize(self->mono_.size() + static_cast<size_t>(missed), 0);
      }
      self->lastTicks_ = time.ticks;
      self->lastFrames_ = frames;
      for (long i = 0; i < frames; ++i) self->mono_.push_back(samples[2 * i]);
      const double now = static_cast<double>(time.now) * 1e-9;
      const double delay = static_cast<double>(time.delay) * time.rate.num / time.rate.denom;
      // The newest frame was played a frame before this cycle began, less
      // the delay the graph reports from the sink to the recorder. The
      // graph had it then too: its arrival is the cycle's start, not when
      // this thread woke.
      self->arrivals_.push_back({static_cast<long>(self->mono_.size()), now, now - 1.0 / kRate - delay});
    }
    pw_stream_queue_buffer(self->stream_, b);
  }

  pw_thread_loop* loop_ = nullptr;
  pw_stream* stream_ = nullptr;
  std::mutex lock_;
  std::vector<int16_t> mono_;
  std::vector<Arrival> arrivals_;
  uint64_t lastTicks_ = 0;
  long lastFrames_ = 0;
};

// ---- a pretend sound card ----------------------------------------------------

// A sink whose frames are played at an exact pace, with the deep buffer of a
// real card: PulseAudio's pipe sink writes into a FIFO, and this reads it at
// 44,100 frames a second on the monotonic clock, so a frame is played when it
// is read. The sink keeps the pipe full, so its latency is the pipe's fill
// (about 0.35 s), and a clock that leaves the sink's latency out is off by
// that much. Frames the sink did not deliver in time are played as silence,
// as a card plays an underrun. While running it is the default sink.
class PretendCard {
 public:
  // With `makeDefault` false the card waits beside the default sink until
  // streams are moved to it.
  bool Start(MonitorRecorder& control, bool makeDefault) {
    char dir[] = "/tmp/sorvane-card.XXXXXX";
    if (!mkdtemp(dir)) return false;
    dir_ = dir;
    const std::string fifo = dir_ + "/card";
    previousSink_ = control.DefaultSink();
    module_ = control.LoadModule("module-pipe-sink", "file=" + fifo + " sink_name=sorvane_card format=s16le rate=" +
                                                         std::to_string(kRate) + " channels=2");
    if (module_ == PA_INVALID_INDEX) return false;
    if (makeDefault && !control.SetDefaultSink("sorvane_card")) return false;
    // The sink made the FIFO and holds it open for writing.
    fd_ = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd_ < 0) return false;
    running_ = true;
    reader_ = std::thread([this] { Read(); });
    return true;
  }

  void Stop(MonitorRecorder& control, std::vector<int16_t>& mono, std::vector<Arrival>& arrivals, double& fillMs,
            std::vector<std::pair<double, double>>* stalls = nullptr) {
    running_ = false;
    if (reader_.joinable()) reader_.join();
    if (fd_ >= 0) close(fd_);
    if (!previousSink_.empty() && control.DefaultSink() != previousSink_) control.SetDefaultSink(previousSink_);
    if (module_ != PA_INVALID_INDEX) control.UnloadModule(module_);
    if (!dir_.empty()) {
      unlink((dir_ + "/card").c_str());
      rmdir(dir_.c_str());
    }
    mono = std::move(mono_);
    arrivals = std::move(arrivals_);
    if (stalls) *stalls = std::move(stalls_);
    fillMs = NAN;
    // While no stream plays on it the sink leaves the card empty.
    std::erase(fills_, 0.0);
    if (!fills_.empty()) {
      std::nth_element(fills_.begin(), fills_.begin() + static_cast<long>(fills_.size() / 2), fills_.end());
      fillMs = fills_[fills_.size() / 2];
    }
  }

 private:
  void Read() {
    // A real card is never late. Where the system allows it, the reader runs
    // ahead of ordinary threads, so that a busy machine delays it less.
    sched_param realtime{};
    realtime.sched_priority = 10;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &realtime);
    const auto start = Clock::now();
    const double t0 = Seconds(start);
    std::vector<uint8_t> bytes;  // read, not yet a whole frame
    std::vector<uint8_t> chunk(static_cast<size_t>(kRate) * 4 / 10);
    long played = 0;
    for (auto next = start; running_;) {
      next += std::chrono::milliseconds(1);
      std::this_thread::sleep_until(next);
      const double now = Seconds(Clock::now());
      const double lateMs = (now - Seconds(next)) * 1000.0;
      if (lateMs > kStallMs) stalls_.emplace_back(now, lateMs);
      const long due = static_cast<long>((now - t0) * kRate);
      int queued = 0;
      if (ioctl(fd_, FIONREAD, &queued) == 0) fills_.push_back(queued / 4 * 1000.0 / kRate);
      const long want = (due - played) * 4 - static_cast<long>(bytes.size());
      const ssize_t got = want > 0 ? read(fd_, chunk.data(), std::min(static_cast<size_t>(want), chunk.size())) : 0;
      if (got > 0) bytes.insert(bytes.end(), chunk.begin(), chunk.begin() + got);
      size_t used = 0;
      for (; used + 4 <= bytes.size(); used += 4) {
        int16_t left;
        std::memcpy(&left, bytes.data() + used, 2);
        mono_.push_back(left);
      }
      bytes.erase(bytes.begin(), bytes.begin() + static_cast<long>(used));
      played += static_cast<long>(used / 4);
      if (played < due) {
        mono_.resize(mono_.size() + static_cast<size_t>(due - played), 0);
        played = due;
      }
      const double at = t0 + static_cast<double>(played) / kRate;
      arrivals_.push_back({played, at, at});
    }
  }

  std::string dir_, previousSink_;
  uint32_t module_ = PA_INVALID_INDEX;
  int fd_ = -1;
  std::atomic<bool> running_{false};
  std::thread reader_;
  std::vector<int16_t> mono_;
  std::vector<Arrival> arrivals_;
  std::vector<double> fills_;
  std::vector<std::pair<double, double>> stalls_;  // (when, ms) the reader woke late
};

// ---- one run of the track through one backend ------------------------------




Stats Summarise(const std::vector<double>& v) {
  Stats s;
  s.count = static_cast<int>(v.size());
  if (v.empty()) return s;
  for (double x : v) s.mean += x;
  s.mean /= static_cast<double>(v.size());
  for (double x : v) s.sd += (x - s.mean) * (x - s.mean);
  s.sd = std::sqrt(s.sd / static_cast<double>(v.size()));
  s.lo = *std::min_element(v.begin(), v.end());
  s.hi = *std::max_element(v.begin(), v.end());
  return s;
}




// The clock's frame at time t, between the reads around it.
double ClockAt(const std::vector<std::pair<double, long>>& clock, double t) {
  auto it = std::lower_bound(clock.begin(), clock.end(), std::make_pair(t, 0L));
  if (it == clock.begin()) return static_cast<double>(clock.front().second);
  if (it == clock.end()) return static_cast<double>(clock.back().second);
  const auto& [t1, f1] = *it;
  const auto& [t0, f0] = *(it - 1);
  return static_cast<double>(f0) + (static_cast<double>(f1 - f0)) * (t - t0) / (t1 - t0);
}


}  // namespace

// 2 ms bursts of 2 kHz at irregular gaps of 90 to 260 ms.
bool WriteClickTrack(const std::string& path, double seconds) {
  std::mt19937 rng(2024);
  std::uniform_int_distribution<long> gap(kRate * 90 / 1000, kRate * 260 / 1000);
  std::vector<long> starts;
  for (long at = kRate / 2; at < static_cast<long>(seconds * kRate) - kRate / 4; at += gap(rng)) starts.push_back(at);
  return WriteOgg(path, static_cast<long>(seconds * kRate), kRate, 2, [&starts](long frame) {
    auto it = std::upper_bound(starts.begin(), starts.end(), frame);
    if (it == starts.begin()) return 0.0f;
    const long into = frame - *(it - 1);
    if (into >= kRate * 2 / 1000) return 0.0f;
    return 0.8f * static_cast<float>(std::sin(2.0 * M_PI * 2000.0 * into / kRate));
  });
}

Line Fit(const std::vector<std::pair<double, double>>& xy) {
  double mx = 0, my = 0;
  for (auto [x, y] : xy) mx += x, my += y;
  mx /= static_cast<double>(xy.size()), my /= static_cast<double>(xy.size());
  double sxy = 0, sxx = 0;
  for (auto [x, y] : xy) sxy += (x - mx) * (y - my), sxx += (x - mx) * (x - mx);
  const double b = sxx > 0 ? sxy / sxx : 0;
  return {my - b * mx, b};
}

std::vector<long> ClicksIn(const std::string& path) { return DetectClicks(DecodeLeft(path)); }

bool CanSuspend(const std::string& serverName) { return serverName.find("PipeWire") == std::string::npos; }

std::string ServerName() {
  MonitorRecorder probe;
  if (!probe.Start()) return {};
  const std::string name = probe.Name();
  std::vector<int16_t> recorded;
  std::vector<Arrival> arrivals;
  probe.Stop(recorded, arrivals);
  return name;
}

// Plays the track for `seconds`, suspending the sink for 500 ms at
// `suspendAt` (none if 0).
std::optional<Session> Play(platform::Audio& audio, const std::string& track, double seconds, double suspendAt,
                            Reference reference, double moveAt) {
  Session s;
  // PipeWire's pulse service is the suspending voice there; its own graph
  // records. With the pretend card the recorder's connection only loads the
  // card and suspends.
  const bool card = reference == Reference::Card;
  const bool graph = !card && !CanSuspend(ServerName());
  MonitorRecorder recorder;
  GraphRecorder graphRecorder;
  PretendCard pretendCard;
  if (!recorder.Start(!graph && !card)) return std::nullopt;
  if ((graph && !graphRecorder.Start()) || (card && !pretendCard.Start(recorder, moveAt <= 0))) {
    if (card) pretendCard.Stop(recorder, s.recorded, s.arrivals, s.cardFillMs);
    recorder.Stop(s.recorded, s.arrivals);
    graphRecorder.Stop(s.recorded, s.arrivals);
    return std::nullopt;
  }
  // Its quantum is four times the null sink's, so that the graph's latency
  // changes with the move.
  uint32_t secondSink = PA_INVALID_INDEX;
  const std::string firstSink = recorder.DefaultSink();
  auto dropSecondSink = [&] {
    if (secondSink == PA_INVALID_INDEX) return;
    recorder.SetDefaultSink(firstSink);
    recorder.UnloadModule(secondSink);
    secondSink = PA_INVALID_INDEX;
  };
  if (graph && moveAt > 0) {
    secondSink = recorder.LoadModule("module-null-sink",
                                     "sink_name=sorvane_second rate=44100 channels=2 "
                                     "sink_properties=node.latency=4096/44100");
    if (secondSink == PA_INVALID_INDEX) {
      recorder.Stop(s.recorded, s.arrivals);
      graphRecorder.Stop(s.recorded, s.arrivals);
      return std::nullopt;
    }
  }
  // A new record stream's timing takes a moment to settle, and under load
  // its first data can come late: the track starts once it runs steadily.
  std::this_thread::sleep_for(std::chrono::seconds(2));
  if (!audio.Init(-1, kRate)) {
    dropSecondSink();
    if (card) pretendCard.Stop(recorder, s.recorded, s.arrivals, s.cardFillMs);
    recorder.Stop(s.recorded, s.arrivals);
    graphRecorder.Stop(s.recorded, s.arrivals);
    return std::nullopt;
  }
  const uint32_t stream = audio.StreamCreateFile(track.c_str());
  audio.Start();
  audio.ChannelPlay(stream, false);
  const auto start = Clock::now();
  auto next = start;
  std::thread suspender;
  if (suspendAt > 0) {
    suspender = std::thread([&] {
      std::this_thread::sleep_until(start + std::chrono::duration<double>(suspendAt));
      s.suspendedAt = recorder.Suspend(true);
      std::this_thread::sleep_for(std::chrono::milliseconds(500));
      s.resumedAt = recorder.Suspend(false);
    });
  }
  // The card waits beside the default sink until the stream is moved to it;
  // on PipeWire the second sink waits to become the default.
  std::thread mover;
  if (moveAt > 0 && (card || secondSink != PA_INVALID_INDEX)) {
    mover = std::thread([&] {
      std::this_thread::sleep_until(start + std::chrono::duration<double>(moveAt));
      if (card) s.movedAt = recorder.MoveAllTo("sorvane_card");
      else if (recorder.SetDefaultSink("sorvane_second")) s.movedAt = Seconds(Clock::now());
    });
  }
  while (Clock::now() - start < std::chrono::duration<double>(seconds)) {
    next += std::chrono::microseconds(500);
    std::this_thread::sleep_until(next);
    const double before = Seconds(Clock::now());
    const uint64_t bytes = audio.ChannelGetPosition(stream);
    const double after = Seconds(Clock::now());
    // A reading this thread was preempted around cannot say when it was
    // made (it looked behind by the time it waited): left out.
    if (after - before < 0.001) s.clock.emplace_back((before + after) / 2, static_cast<long>(bytes / 4));
  }
  if (suspender.joinable()) suspender.join();
  if (mover.joinable()) mover.join();
  audio.Stop();
  audio.Free();
  dropSecondSink();
  if (card) {
    std::vector<int16_t> none;
    std::vector<Arrival> noArrivals;
    pretendCard.Stop(recorder, s.recorded, s.arrivals, s.cardFillMs, &s.referenceStalls);
    recorder.Stop(none, noArrivals);
    return s;
  }
  recorder.Stop(s.recorded, s.arrivals);
  if (graph) {
    graphRecorder.Stop(s.recorded, s.arrivals);
    s.quantum = GraphRecorder::Quantum(s.arrivals);
  }
  return s;
}

struct Card::Impl {
  MonitorRecorder control;
  PretendCard card;
  bool started = false;
};

Card::Card() : impl_(std::make_unique<Impl>()) {}
Card::~Card() {
  if (impl_->started) {
    std::vector<int16_t> recorded;
    double startedAt, fillMs;
    Stop(recorded, startedAt, fillMs);
  }
}

bool Card::Start() {
  if (!impl_->control.Start(false)) return false;
  impl_->started = true;
  if (impl_->card.Start(impl_->control, true)) return true;
  std::vector<int16_t> recorded;
  double startedAt, fillMs;
  Stop(recorded, startedAt, fillMs);
  return false;
}

void Card::Stop(std::vector<int16_t>& recorded, double& startedAt, double& fillMs) {
  std::vector<Arrival> arrivals;
  impl_->card.Stop(impl_->control, recorded, arrivals, fillMs);
  startedAt = arrivals.empty() ? NAN : arrivals.front().played - static_cast<double>(arrivals.front().frames) / kRate;
  std::vector<int16_t> none;
  impl_->control.Stop(none, arrivals);
  impl_->started = false;
}

Result Analyse(const Session& s, const std::vector<long>& trackClicks) {
  Result r;
  // A step is how far the clock moved beyond the time that passed between
  // two reads, so that a read the scheduler delayed is no step.
  for (size_t i = 1; i < s.clock.size(); ++i) {
    const long step = s.clock[i].second - s.clock[i - 1].second;
    if (step < 0) ++r.backwardSteps;
    const double beyond = static_cast<double>(step) / kRate - (s.clock[i].first - s.clock[i - 1].first);
    r.largestStepMs = std::max(r.largestStepMs, beyond * 1000.0);
  }
  // The recording falls into segments where the monitor ran without a
  // break (a suspend stops it); each has its own line from recorded frame
  // to played time, and its own shift from recorded to track frames.
  std::vector<size_t> cuts{0};
  for (size_t k = 1; k < s.arrivals.size(); ++k)
    if (s.arrivals[k].arrived - s.arrivals[k - 1].arrived > 0.1) cuts.push_back(k);
  cuts.push_back(s.arrivals.size());
  const std::vector<long> heard = DetectClicks(s.recorded);
  const bool suspended = s.resumedAt > 0;
  std::vector<double> before, after, leads;
  std::vector<std::pair<double, double>> afterResume;  // (seconds since resuming, offset)
  double lastPlayed = NAN;
  for (size_t seg = 0; seg + 1 < cuts.size(); ++seg) {
    // The played time of recorded frame h from the reads of the 0.2 s
    // around it (the server changes the sink's latency as streams come and
    // go), and its render time: monitor data is read no earlier than it is
    // rendered, so the earliest of those reads gives it.
    auto playedAt = [&](long h, double* rendered) -> std::optional<double> {
      std::vector<std::pair<double, double>> near;
      *rendered = 1e9;
      // Ten arrivals at least: a graph's recorder gets one a cycle.
      const long window = std::max<long>(kRate / 10, 10 * s.quantum);
      for (size_t k = cuts[seg]; k < cuts[seg + 1]; ++k) {
        if (std::abs(s.arrivals[k].frames - h) >= window) continue;
        near.emplace_back(s.arrivals[k].frames, s.arrivals[k].played);
        *rendered = std::min(*rendered, s.arrivals[k].arrived - static_cast<double>(s.arrivals[k].frames - h) / kRate);
      }
      if (near.size() < 10) return std::nullopt;
      return Fit(near)(static_cast<double>(h));
    };
    const long firstFrame = cuts[seg] == 0 ? 0 : s.arrivals[cuts[seg] - 1].frames;
    const long lastFrame = s.arrivals[cuts[seg + 1] - 1].frames;
    std::vector<long> here;
    for (long h : heard)
      if (h >= firstFrame && h < lastFrame) here.push_back(h);
    if (here.empty()) continue;
    // Match the segment's clicks to the track's by their irregular spacing,
    // to within a few frames (a server may resample the monitor).
    auto trackClickNear = [&trackClicks](long frame) -> std::optional<long> {
      auto it = std::lower_bound(trackClicks.begin(), trackClicks.end(), frame - kMatchFrames);
      if (it != trackClicks.end() && *it <= frame + kMatchFrames) return *it;
      return std::nullopt;
    };
    // Any heard click may be the anchor: the first one can be a fragment (a
    // stream moved or resumed in the middle of a click).
    long shift = 0;
    int bestMatches = -1;
    for (long anchor : here) {
      for (long c : trackClicks) {
        int matches = 0;
        for (long h : here) matches += trackClickNear(h + c - anchor).has_value();
        if (matches > bestMatches) bestMatches = matches, shift = c - anchor;
      }
    }
    for (long h : here) {
      const std::optional<long> click = trackClickNear(h + shift);
      if (!click) continue;
      double rendered;
      const std::optional<double> played = playedAt(h, &rendered);
      // A sample cannot be played before the monitor had it, nor long after:
      // such a click has no trustworthy reference. (A graph's recorder has
      // it exactly as it is played: a frame's rounding is allowed.)
      if (!played || *played < rendered - 1.0 / kRate || *played > rendered + 0.5) continue;
      const double when = *played;
      leads.push_back((when - rendered) * 1000.0);
      const double offsetMs = (ClockAt(s.clock, when) - static_cast<double>(*click)) * 1000.0 / kRate;
      // After a move the clock has half a second to learn the new sink.
      if (s.movedAt > 0 && when < s.movedAt + 0.5) continue;
      // Nor is the card a reference for a click as far behind as its
      // reader was late just before.
      double lateMs = 0;
      for (const auto& [at, ms] : s.referenceStalls)
        if (at <= when && at > when - kStallShadowSeconds) lateMs = std::max(lateMs, ms);
      if (offsetMs < -kStallMs && lateMs >= -offsetMs - kStallMs) {
        ++r.clicksAfterStalls;
        continue;
      }
      if (!suspended || when < s.suspendedAt) before.push_back(offsetMs);
      else if (when > s.resumedAt) afterResume.emplace_back(when - s.resumedAt, offsetMs);
    }
    // The segment the suspend ended: the frame played last is its last
    // recorded one, or the one due at the suspend if the sink rendered on.
    const double endedAt = s.arrivals[cuts[seg + 1] - 1].arrived;
    double rendered;
    const std::optional<double> lastAt = playedAt(lastFrame, &rendered);
    if (suspended && lastAt && std::abs(endedAt - s.suspendedAt) < 0.3) {
      r.sinkStopped = true;
      const double dueAtSuspend = static_cast<double>(lastFrame) - (*lastAt - s.suspendedAt) * kRate;
      lastPlayed = std::min(static_cast<double>(lastFrame), dueAtSuspend) + static_cast<double>(shift);
    }
  }
  r.before = Summarise(before);
  if (!leads.empty()) {
    std::sort(leads.begin(), leads.end());
    r.renderLeadMs = leads[leads.size() / 2];
  }
  if (suspended) {
    if (!std::isnan(lastPlayed)) r.aheadWhileSuspendedMs = (ClockAt(s.clock, s.resumedAt - 0.01) - lastPlayed) * 1000.0 / kRate;
    std::sort(afterResume.begin(), afterResume.end());
    double worst = 0;
    size_t settled = afterResume.size();
    for (size_t i = afterResume.size(); i-- > 0;) {
      if (std::abs(afterResume[i].second) >= 2.0) break;
      settled = i;
    }
    for (auto [since, offset] : afterResume) {
      if (since < 0.5) worst = std::max(worst, std::abs(offset));
      else after.push_back(offset);
    }
    r.worstEarlyAfterMs = worst;
    if (settled < afterResume.size()) r.recoveredAfterS = settled == 0 ? 0.0 : afterResume[settled].first;
    r.after = Summarise(after);
  }
  return r;
}

}  // namespace avoffset
