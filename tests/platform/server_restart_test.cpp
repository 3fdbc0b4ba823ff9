// The music and the picture through a sound server's death and return: a
// private PulseAudio of the test's own, killed while the demo's audio plays
// and started again on the same socket.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "tests/support/support.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// A PulseAudio with a null sink in a folder of its own, started and killed by
// process id, as scripts/sound-server runs one.
class PrivatePulse {
 public:
  explicit PrivatePulse(const std::string& dir) : dir_(dir) {}
  ~PrivatePulse() { Kill(); }

  bool Start() {
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
      setenv("HOME", dir_.c_str(), 1);
      unsetenv("DISPLAY");
      const std::string native = "module-native-protocol-unix socket=" + Socket() + " auth-anonymous=1";
      std::freopen("/dev/null", "w", stderr);
      execlp("pulseaudio", "pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "-L",
             native.c_str(), "-L", "module-null-sink sink_name=sorvane_null rate=44100", static_cast<char*>(nullptr));
      _exit(127);
    }
    for (int i = 0; i < 100 && pid_ > 0; ++i) {
      if (std::filesystem::exists(Socket())) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  void Kill() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
    std::error_code ignored;
    std::filesystem::remove(Socket(), ignored);
  }

  std::string Socket() const { return dir_ + "/native"; }

 private:
  std::string dir_;
  pid_t pid_ = -1;
};

// The streams playing on the server PULSE_SERVER names.
int SinkInputs() {
  int n = 0;
  if (FILE* p = popen("pactl list short sink-inputs 2>/dev/null", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, p)) ++n;
    pclose(p);
  }
  return n;
}

TEST(ServerRestart, TheMusicAndThePictureSurviveTheServerGoingAndComingBack) {
  TempDir dir;
  PrivatePulse server(dir.path());
  ASSERT_TRUE(server.Start()) << "pulseaudio did not start";
  setenv("PULSE_SERVER", ("unix:" + server.Socket()).c_str(), 1);
  setenv("PIPEWIRE_REMOTE", (dir / "no-pipewire").c_str(), 1);
  const std::string track = dir / "tone.ogg";
  ASSERT_TRUE(WriteTestOgg(track, 14.0));

  auto audio = platform::CreateDesktopAudio();
  ASSERT_TRUE(audio->Init(-1, 44100));
  const uint32_t stream = audio->StreamCreateFile(track.c_str());
  ASSERT_NE(stream, 0u);
  audio->Start();
  audio->ChannelPlay(stream, false);
  ASSERT_EQ(SinkInputs(), 1) << "not playing through the private server";

  std::vector<std::pair<double, double>> seen;  // (seconds since start, music seconds)
  const auto start = Clock::now();
  auto watch = [&](std::chrono::milliseconds length) {
    const auto end = Clock::now() + length;
    while (Clock::now() < end) {
      seen.emplace_back(std::chrono::duration<double>(Clock::now() - start).count(),
                        audio->ChannelBytes2Seconds(stream, audio->ChannelGetPosition(stream)));
      std::this_thread::sleep_for(5ms);
    }
    return seen.back().second;
  };
  // A null sink on its own can take two seconds to play its first frame.
  watch(3000ms);
  ASSERT_GT(seen.back().second, 0.5) << "the music does not play";

  server.Kill();
  const double atKill = seen.back().second;
  const double afterOutage = watch(1500ms);
  EXPECT_GT(afterOutage - atKill, 1.35) << "the picture froze with its server";

  ASSERT_TRUE(server.Start()) << "pulseaudio did not start again";
  const auto returned = Clock::now();
  const double atReturn = seen.back().second;
  // The music is back on the server within a second.
  double reconnect = -1;
  while (Clock::now() - returned < 3s && reconnect < 0) {
    watch(50ms);
    if (SinkInputs() == 1) reconnect = std::chrono::duration<double>(Clock::now() - returned).count();
  }
  EXPECT_GE(reconnect, 0.0) << "the music did not come back to the server";
  EXPECT_LT(reconnect, 1.0) << "the music took too long to come back";
  const double resumed = watch(std::chrono::duration_cast<std::chrono::milliseconds>(4s - (Clock::now() - returned)));
  // Back on the server's clock: at its pace again, having waited at most
  // the reconnection and the new sink's first latency.
  EXPECT_NEAR(watch(1000ms) - resumed, 1.0, 0.1) << "not at the music's pace after the server came back";
  EXPECT_GT(resumed - atReturn, 4.0 - 3.0) << "the picture waited too long for the music";
  EXPECT_LT(resumed - atReturn, 4.0 + 0.05) << "the picture ran ahead of the music";

  int backward = 0;
  for (size_t i = 1; i < seen.size(); ++i) backward += seen[i].second < seen[i - 1].second;
  EXPECT_EQ(backward, 0) << "the position stepped back";
  std::printf("at the kill %.2f s; 1.5 s later %.2f s; at the return %.2f s; playing again on the server %.2f s "
              "later; 4 s after the return %.2f s\n", atKill, afterOutage, atReturn, reconnect, resumed);
  audio->Stop();
  audio->Free();
}

}  // namespace
