// The browser's audio backend: the track decoded by the browser
// (decodeAudioData: the build carries no Vorbis decoder of its own) and
// played by Web Audio, its position the sample the listener hears.
//
// The audio context is made when the page loads (page.js, which starts
// decoding the track as soon as it has arrived) and started by the user's
// first click or key on the page (browsers let a page sound only after
// that); `Init` waits a moment for it to run and fails, saying why on the
// page, where the browser keeps it silent or has no Web Audio.
//
// The position heard: the context's output timestamp (the context time the
// device is playing at a given moment of the page's clock, which Chromium
// and Firefox report), carried forward to now on the page's clock. Where a
// browser has no output timestamp, the context's time less the latencies it
// reports (`baseLatency`, `outputLatency`), and less nothing it does not
// report. The page keeps what was reported (page.js's audio report).
//
// A page opened with ?still=SECONDS (a poster, or a comparison with the
// desktop's capture tool) shows the picture standing at that time: the
// position stays there and nothing is heard.
#include <emscripten.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "platform/platform.h"

namespace platform {

namespace {

EM_JS(void, WebAudioPrepare, (), {
  const s = Module.sorvane;
  if (s.audio) return;
  s.audio = {context: s.audioContext(), buffers: [], source: null, startedAt: 0, offset: 0, playing: false};
  if (!s.audio.context) return;
  const unlock = () => {
    if (s.audio.context && s.audio.context.state === 'suspended' && !s.audio.stopped) s.audio.context.resume().catch(() => {});
  };
  for (const type of ['pointerdown', 'click', 'keydown']) window.addEventListener(type, unlock, true);
});

EM_ASYNC_JS(int, WebAudioStart, (), {
  const s = Module.sorvane, a = s.audio, c = a.context;
  if (!c) {
    s.problem('This browser offers no Web Audio, which the demo plays its music with.');
    return 0;
  }
  if (!isNaN(s.still)) return 1;
  if (c.state !== 'running') {
    const ran = new Promise((resolve) => {
      c.onstatechange = () => { if (c.state === 'running') resolve(); };
    });
    await Promise.race([ran, c.resume().catch(() => {}).then(() => ran), new Promise((r) => setTimeout(r, 1500))]);
    c.onstatechange = null;
  }
  if (c.state !== 'running') {
    s.problem('The browser kept the page from playing sound. Click "Demo" yourself (not a script), or allow ' +
              'sound for this site, then reload the page.');
    return 0;
  }
  return 1;
});

EM_ASYNC_JS(int, WebAudioDecode, (const unsigned char* bytes, int size, const char* name), {
  const s = Module.sorvane, a = s.audio, path = UTF8ToString(name);
  try {
    const buffer = await s.decoded(PATH_FS.resolve(path), HEAPU8.subarray(bytes, bytes + size), 'audio');
    a.buffers.push(buffer);
    return a.buffers.length;
  } catch (e) {
    s.problem('This browser could not decode the music, ' + path + ' (Ogg Vorbis).');
    return 0;
  }
});

EM_JS(int, WebAudioPlay, (int stream, int restart), {
  const s = Module.sorvane, a = s.audio, c = a.context;
  const buffer = a.buffers[stream - 1];
  if (!buffer) return 0;
  if (!isNaN(s.still)) return 1;
  const offset = restart ? 0 : Math.min(s.heardSeconds(), buffer.duration);
  if (a.source) a.source.stop();
  a.source = c.createBufferSource();
  a.source.buffer = buffer;
  a.source.connect(c.destination);
  a.startedAt = c.currentTime;
  a.offset = offset;
  a.source.start(a.startedAt, offset);
  a.playing = true;
  return 1;
});

// Seconds of the track heard now (page.js: heardSeconds).
EM_JS(double, WebAudioHeard, (int stream), {
  const s = Module.sorvane, buffer = s.audio.buffers[stream - 1];
  if (!buffer) return 0;
  if (!isNaN(s.still)) return s.still;
  return Math.min(s.heardSeconds(), buffer.duration);
});

EM_JS(int, WebAudioChannels, (int stream), {
  const buffer = Module.sorvane.audio.buffers[stream - 1];
  return buffer ? buffer.numberOfChannels : 0;
});

// Stops the track; `close` lets go of the output too (a stopped context
// only sleeps). False where there was nothing to stop.
EM_JS(int, WebAudioEnd, (int close), {
  const a = Module.sorvane.audio;
  if (!a || !a.context || a.context.state === 'closed') return 0;
  if (a.source) a.source.stop();
  a.source = null;
  a.playing = false;
  a.stopped = true;
  (close ? a.context.close() : a.context.suspend()).catch(() => {});
  return 1;
});

class WebAudio final : public Audio {
 public:
  WebAudio() { WebAudioPrepare(); }
  // The page outlives the program: what it opened is closed with it, so
  // nothing plays on after the run, whichever way it ended.
  ~WebAudio() override { WebAudioEnd(1); }

  bool Init(int device, int frequency) override {
    if (device != -1 || frequency <= 0 || open_) return false;
    open_ = WebAudioStart() != 0;
    frequency_ = frequency;
    return open_;
  }

  uint32_t StreamCreateFile(const char* path) override {
    if (!open_ || !path) return 0;
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    if (!in && !in.eof()) return 0;
    if (bytes.empty()) return 0;
    return static_cast<uint32_t>(WebAudioDecode(bytes.data(), static_cast<int>(bytes.size()), path));
  }

  bool Start() override { return open_; }

  bool ChannelPlay(uint32_t stream, bool restart) override {
    return open_ && WebAudioPlay(static_cast<int>(stream), restart ? 1 : 0) != 0;
  }

  uint64_t ChannelGetPosition(uint32_t stream) override {
    if (!open_) return 0;
    const double seconds = WebAudioHeard(static_cast<int>(stream));
    const uint64_t frames = static_cast<uint64_t>(seconds * frequency_);
    return frames * BytesPerFrame(stream);
  }

  double ChannelBytes2Seconds(uint32_t stream, uint64_t bytes) override {
    const uint64_t perFrame = BytesPerFrame(stream);
    return perFrame && frequency_ ? static_cast<double>(bytes / perFrame) / frequency_ : 0.0;
  }

  bool Stop() override { return open_ && WebAudioEnd(0) != 0; }

  bool Free() override {
    if (!open_) return false;
    open_ = false;
    return WebAudioEnd(1) != 0;
  }

 private:
  uint64_t BytesPerFrame(uint32_t stream) const { return 2u * static_cast<uint64_t>(WebAudioChannels(static_cast<int>(stream))); }

  bool open_ = false;
  int frequency_ = 0;
};

}  // namespace

std::unique_ptr<Audio> CreateWebAudio() { return std::make_unique<WebAudio>(); }

}  // namespace platform
