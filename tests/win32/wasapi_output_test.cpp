// The Windows music on its output, under Wine beside a PulseAudio of the
// test's own (tests/win32/own-pulseaudio), which is Wine's sound system: the
// server killed and started again under the playing stream, as Windows'
// audio service restarts or a device goes; the system's notifications of a
// new default device or a removed one, called as the system would call them
// (Wine sends none); and the track at 44.1 kHz played on an output that
// mixes at 48 kHz, as most Windows machines do.
#include <gtest/gtest.h>
#include <windows.h>
// After windows.h, which they need.
#include <mmdeviceapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <numbers>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio/backend.h"
#include "platform/audio/wasapi_audio.h"
#include "tests/support/output_restart.h"
#include "measure/workbench.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

std::string WindowsPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// The test's own server, driven through the script that started it: Wine
// runs Unix programs, but cannot wait for them, so each verb's answer lands
// in a file, which appears once the verb is done.
class OwnServer {
 public:
  OwnServer() {
    const char* script = std::getenv("SORVANE_OWN_PULSE");
    const char* dir = std::getenv("SORVANE_OWN_PULSE_DIR");
    if (script && dir) script_ = script, dir_ = dir;
  }
  bool Found() const { return !dir_.empty(); }

  // The server's streams; `playing`: those not stopped alone.
  std::vector<std::string> Streams(bool playing = false) {
    std::vector<std::string> streams;
    std::istringstream in(Verb(playing ? "--playing" : "--streams"));
    for (std::string line; std::getline(in, line);)
      if (!line.empty()) streams.push_back(line);
    return streams;
  }
  void Kill() { Verb("--kill"); }
  // What the sink played over the next `seconds`: left-channel samples.
  std::vector<double> Record(int seconds) {
    std::vector<double> left;
    if (Verb("--record", " " + std::to_string(seconds)).find("recorded") == std::string::npos) return left;
    std::ifstream in(WindowsPath(dir_ + "/record.raw"), std::ios::binary);
    for (int16_t frame[2]; in.read(reinterpret_cast<char*>(frame), sizeof frame);) left.push_back(frame[0]);
    return left;
  }
  bool Start() { return Verb("--start").find("answering") != std::string::npos; }

 private:
  std::string Verb(const std::string& verb, const std::string& arguments = "") {
    const std::string answer = dir_ + "/answer";
    DeleteFileA(WindowsPath(answer).c_str());
    std::string command = "/bin/sh -c \"'" + script_ + "' " + verb + " '" + dir_ + "'" + arguments + " >'" + answer +
                          ".part' 2>&1; mv '" + answer + ".part' '" + answer + "'\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
      return {};
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    const auto end = Clock::now() + 20s;
    while (Clock::now() < end) {
      std::ifstream in(WindowsPath(answer));
      if (in) return std::string(std::istreambuf_iterator<char>(in), {});
      std::this_thread::sleep_for(5ms);
    }
    ADD_FAILURE() << "own-pulseaudio " << verb << " did not answer";
    return {};
  }

  std::string script_, dir_;
};

TEST(WasapiOutput, TheMusicAndThePictureSurviveTheSoundServerGoingAndComingBack) {
  OwnServer server;
  ASSERT_TRUE(server.Found()) << "run beside tests/win32/own-pulseaudio";
  TempDir dir;
  // The desktop's own choice: WASAPI, else SDL's device on its Windows
  // drivers, which reach the same dead server.
  ExpectMusicSurvivesItsOutput(dir, {[&] { server.Kill(); }, [&] { return server.Start(); },
                                     [&] { return static_cast<int>(server.Streams().size()); }});
}

// A device that does not open.
class Refusing final : public platform::audio::ResumableAudio {
 public:
  bool Init(int, int) override { return false; }
  uint32_t StreamCreateFile(const char*) override { return 0; }
  bool Start() override { return false; }
  bool ChannelPlay(uint32_t, bool) override { return false; }
  int64_t PlayedFrames() override { return 0; }
  Track Playing() override { return {}; }
  bool Stop() override { return false; }
  bool Free() override { return false; }
  bool Lost() override { return true; }
};

// The WASAPI backends the resuming choice makes, the newest one kept; while
// `refuseNew` is set, no new device opens (WASAPI's nor SDL's).
std::atomic<platform::audio::ResumableAudio*> newestWasapi{nullptr};
std::atomic<int> wasapiMade{0};
std::atomic<bool> refuseNew{false};

std::unique_ptr<platform::audio::ResumableAudio> RecordedWasapi() {
  if (refuseNew) return std::make_unique<Refusing>();
  auto backend = platform::audio::NewWasapiAudio();
  newestWasapi = backend.get();
  ++wasapiMade;
  return backend;
}

std::unique_ptr<platform::audio::ResumableAudio> SdlUnlessRefused() {
  if (refuseNew) return std::make_unique<Refusing>();
  return platform::audio::NewSdlAudio();
}

std::wstring DefaultRenderDevice() {
  std::wstring id;
  IMMDeviceEnumerator* enumerator = nullptr;
  IMMDevice* device = nullptr;
  LPWSTR text = nullptr;
  if (SUCCEEDED(CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                 reinterpret_cast<void**>(&enumerator))) &&
      SUCCEEDED(enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device)) && SUCCEEDED(device->GetId(&text)))
    id = text;
  if (text) CoTaskMemFree(text);
  if (device) device->Release();
  if (enumerator) enumerator->Release();
  return id;
}

TEST(WasapiOutput, ANewDefaultDeviceOrTheDeviceRemovedMovesTheMusicWithinHalfASecond) {
  OwnServer server;
  ASSERT_TRUE(server.Found()) << "run beside tests/win32/own-pulseaudio";
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  const std::wstring device = DefaultRenderDevice();
  ASSERT_FALSE(device.empty()) << "no output device";
  TempDir dir;
  const std::string track = dir / "tone.ogg";
  ASSERT_TRUE(WriteTestOgg(track, 12.0));
  auto audio = platform::audio::NewResumingAudio({&RecordedWasapi, &SdlUnlessRefused});
  ASSERT_TRUE(audio->Init(-1, 44100));
  const uint32_t stream = audio->StreamCreateFile(track.c_str());
  ASSERT_NE(stream, 0u);
  audio->Start();
  audio->ChannelPlay(stream, false);

  std::vector<double> seen;
  auto watch = [&](Clock::duration length) {
    const auto end = Clock::now() + length;
    do {
      seen.push_back(audio->ChannelBytes2Seconds(stream, audio->ChannelGetPosition(stream)));
      std::this_thread::sleep_for(5ms);
    } while (Clock::now() < end);
    return seen.back();
  };
  // Calls the newest backend's notification client, then reads the clock as
  // the frame loop does until the server plays one stream other than
  // `before`; returns how long that took (a negative time: it never did).
  auto moveBy = [&](const char* what, auto notify, const std::vector<std::string>& before) {
    SCOPED_TRACE(what);
    IMMNotificationClient* client = platform::audio::WasapiNotifications(*newestWasapi.load());
    if (!client) {
      ADD_FAILURE() << "the WASAPI backend took no notification client";
      return -1.0;
    }
    const auto at = Clock::now();
    notify(client);
    while (Clock::now() - at < 2s) {
      watch(20ms);
      const auto now = server.Streams();
      if (now.size() == 1 && now != before) return std::chrono::duration<double>(Clock::now() - at).count();
    }
    return -1.0;
  };

  watch(2500ms);
  const auto first = server.Streams();
  ASSERT_EQ(first.size(), 1u) << "not playing through the test's own server";
  ASSERT_GT(seen.back(), 0.3) << "the music does not play";

  // Notifications of the capture side, or of the console role's default
  // staying where it is, leave the music alone.
  IMMNotificationClient* client = platform::audio::WasapiNotifications(*newestWasapi.load());
  ASSERT_NE(client, nullptr);
  client->OnDefaultDeviceChanged(eCapture, eConsole, L"{another capture device}");
  client->OnDefaultDeviceChanged(eRender, eConsole, device.c_str());
  watch(600ms);
  EXPECT_EQ(server.Streams(), first) << "the music moved on a notification that concerns it not";
  EXPECT_EQ(wasapiMade, 1);

  const double moved = moveBy(
      "another default device",
      [](IMMNotificationClient* c) { c->OnDefaultDeviceChanged(eRender, eConsole, L"{another render device}"); },
      first);
  EXPECT_GE(moved, 0.0) << "the music did not move to the new default device";
  EXPECT_LT(moved, 0.5);
  const auto second = server.Streams();
  const double removed = moveBy(
      "the device removed", [&](IMMNotificationClient* c) { c->OnDeviceStateChanged(device.c_str(), DEVICE_STATE_NOTPRESENT); },
      second);
  EXPECT_GE(removed, 0.0) << "the music did not leave the removed device";
  EXPECT_LT(removed, 0.5);

  // A lost stream stops at once, though nothing has taken its place: with no
  // device opening, the server holds the old stream, stopped, while the
  // picture runs on; the music moves once a device opens again.
  const auto third = server.Streams();
  refuseNew = true;
  const double atLoss = watch(1ms);
  platform::audio::WasapiNotifications(*newestWasapi.load())
      ->OnDefaultDeviceChanged(eRender, eConsole, L"{yet another render device}");
  bool stopped = false;
  for (int i = 0; i < 50 && !stopped; ++i) {
    watch(10ms);
    stopped = server.Streams(true).empty();
  }
  EXPECT_TRUE(stopped) << "the lost stream plays on";
  EXPECT_EQ(server.Streams(), third) << "the lost stream went before another took its place";
  EXPECT_GT(watch(1000ms) - atLoss, 0.9) << "the picture stood while no device opened";
  refuseNew = false;
  const double reopened = moveBy("a device opening again", [](IMMNotificationClient*) {}, third);
  EXPECT_GE(reopened, 0.0) << "the music did not come back once a device opened";
  EXPECT_EQ(server.Streams(true).size(), 1u) << "the music is not playing after it came back";

  // On the new stream's clock at the music's pace again, the position never
  // having stepped back through the moves.
  const double settled = watch(1000ms);
  EXPECT_NEAR(watch(1500ms) - settled, 1.5, 0.15);
  int backward = 0;
  for (size_t i = 1; i < seen.size(); ++i) backward += seen[i] < seen[i - 1];
  EXPECT_EQ(backward, 0) << "the position stepped back";
  std::printf("moved to a new default device in %.3f s, off a removed device in %.3f s\n", moved, removed);
  audio->Stop();
  audio->Free();
}

// The level in dB of `hz` in `samples` taken at `rate`, under a
// Blackman-Harris window (side lobes 92 dB down): the strongest of the
// frequencies within 100 Hz of it, 10 Hz apart.
double LevelNear(const std::vector<double>& samples, double rate, double hz) {
  const size_t n = samples.size();
  double strongest = 1e-30;
  for (double f = hz - 100; f <= hz + 100; f += 10) {
    std::complex<double> sum = 0;
    for (size_t i = 0; i < n; ++i) {
      const double x = 2 * std::numbers::pi * static_cast<double>(i) / static_cast<double>(n);
      const double window = 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
      sum += samples[i] * window * std::polar(1.0, -2 * std::numbers::pi * f * static_cast<double>(i) / rate);
    }
    strongest = std::max(strongest, std::norm(sum));
  }
  return 10 * std::log10(strongest);
}

// A 15 kHz tone in the 44.1 kHz track, played by the WASAPI stream on an
// output mixing at 48 kHz: heard at its own pitch (a stream that told the
// device another rate would be heard at 15 × 48/44.1 kHz, or one at the
// device's rate at 15 × 44.1/48), and clean of a poor resampler's images at
// 48 - (44.1 - 15), 44.1 + 15 - 48 and 48 - (2 × 44.1 - 15 - 48) kHz (a
// linear one leaves them 15 to 30 dB below the tone). Under Wine the sound
// server resamples, not Windows' converter, whose quality only Windows
// shows; what this holds is the stream's format and the chain as a whole.
TEST(WasapiOutput, ATrackAt44kHzOnAnOutputAt48kHzIsHeardAtItsPitchWithoutImages) {
  OwnServer server;
  ASSERT_TRUE(server.Found()) << "run beside tests/win32/own-pulseaudio";
  const char* rate = std::getenv("SORVANE_OWN_PULSE_RATE");
  ASSERT_TRUE(rate && std::string(rate) == "48000") << "the output does not mix at 48 kHz";
  TempDir dir;
  const std::string track = dir / "tone.ogg";
  constexpr double kTone = 15000, kTrackRate = 44100, kOutputRate = 48000;
  ASSERT_TRUE(WriteOgg(track, 6 * 44100, 44100, 2,
                       [&](long i) { return 0.5f * static_cast<float>(std::sin(2 * std::numbers::pi * kTone * i / kTrackRate)); }));
  auto audio = platform::audio::NewWasapiAudio();
  ASSERT_TRUE(audio->Init(-1, 44100));
  const uint32_t stream = audio->StreamCreateFile(track.c_str());
  ASSERT_NE(stream, 0u);
  audio->Start();
  audio->ChannelPlay(stream, false);
  // The null sink takes a moment to play its first frames; the middle of
  // the recording is the steady tone.
  const std::vector<double> played = server.Record(4);
  audio->Stop();
  audio->Free();
  constexpr size_t kLength = 16384;
  ASSERT_GT(played.size(), 2 * kLength) << "too little was recorded";
  const std::vector<double> steady(played.end() - kLength - 4800, played.end() - 4800);
  auto level = [&](double hz) { return LevelNear(steady, kOutputRate, hz); };
  const double tone = level(kTone);
  for (const double shifted : {kTone * kOutputRate / kTrackRate, kTone * kTrackRate / kOutputRate})
    EXPECT_GE(tone - level(shifted), 60.0) << "the tone is heard at " << shifted << " Hz";
  for (const double image : {kOutputRate - (kTrackRate - kTone), kTrackRate + kTone - kOutputRate,
                             kOutputRate - (2 * kTrackRate - kTone - kOutputRate)}) {
    SCOPED_TRACE(image);
    EXPECT_GE(tone - level(image), 60.0) << "an image of the tone at " << image << " Hz";
    std::printf("image at %.0f Hz: %.1f dB below the tone\n", image, tone - level(image));
  }
}

}  // namespace
