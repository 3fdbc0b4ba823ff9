// The music and the picture through a sound server's death and return: a
// private server of the test's own (PulseAudio, and PipeWire with its session
// manager and pulse service), killed while the demo's audio plays and started
// again on the same sockets, as a desktop restarts its sound server.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "tests/support/output_restart.h"
#include "measure/workbench.h"

namespace {

using namespace std::chrono_literals;

bool Installed(const char* tool) {
  return std::system((std::string("command -v ") + tool + " >/dev/null 2>&1").c_str()) == 0;
}

// A sound server with a null sink in a folder of its own, as
// scripts/sound-server runs one, its daemons started and killed by process id.
// PipeWire's session bus outlives its restarts, as a desktop's does.
class PrivateServer {
 public:
  PrivateServer(std::string kind, const std::string& dir) : kind_(std::move(kind)), dir_(dir) {
    mkdir((dir_ + "/pulse").c_str(), 0700);
  }
  ~PrivateServer() {
    Kill();
    if (bus_ > 0) {
      kill(bus_, SIGTERM);
      waitpid(bus_, nullptr, 0);
    }
  }

  bool PipeWire() const { return kind_ == "pipewire"; }
  std::string PulseSocket() const { return dir_ + "/pulse/native"; }
  std::string PipeWireSocket() const { return dir_ + "/pipewire-0"; }

  bool Start() {
    if (!PipeWire()) {
      const std::string native = "module-native-protocol-unix socket=" + PulseSocket() + " auth-anonymous=1";
      daemons_.push_back(Spawn({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no",
                                "-L", native.c_str(), "-L", "module-null-sink sink_name=sorvane_null rate=44100"}));
      return WaitFor(PulseSocket());
    }
    if (bus_ <= 0) {
      const std::string address = "unix:path=" + dir_ + "/bus";
      bus_ = Spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", ("--address=" + address).c_str()});
      if (!WaitFor(dir_ + "/bus")) return false;
      setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    }
    daemons_.push_back(Spawn({"pipewire"}));
    if (!WaitFor(PipeWireSocket())) return false;
    daemons_.push_back(Spawn({"wireplumber"}));
    daemons_.push_back(Spawn({"pipewire-pulse"}));
    if (!WaitFor(PulseSocket())) return false;
    // The graph at the track's rate, and the null sink its default.
    if (!Run({"pw-metadata", "-n", "settings", "0", "clock.force-rate", "44100"}) ||
        !Run({"pactl", "load-module", "module-null-sink", "sink_name=sorvane_null", "rate=44100", "channels=2"}))
      return false;
    for (int i = 0; i < 50; ++i) {
      if (Run({"pactl", "set-default-sink", "sorvane_null"})) return true;
      std::this_thread::sleep_for(100ms);
    }
    return false;
  }

  void Kill() {
    for (auto it = daemons_.rbegin(); it != daemons_.rend(); ++it) {
      kill(*it, SIGKILL);
      waitpid(*it, nullptr, 0);
    }
    daemons_.clear();
    std::error_code ignored;
    for (const std::string& socket : {PulseSocket(), PipeWireSocket(), PipeWireSocket() + ".lock"})
      std::filesystem::remove(socket, ignored);
  }

 private:
  // The server's programs see the folder as their runtime folder and home,
  // and no display; their messages go to a log beside them.
  pid_t Spawn(std::initializer_list<const char*> argv) {
    std::vector<char*> args;
    for (const char* a : argv) args.push_back(const_cast<char*>(a));
    args.push_back(nullptr);
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
      setenv("PIPEWIRE_RUNTIME_DIR", dir_.c_str(), 1);
      setenv("HOME", dir_.c_str(), 1);
      unsetenv("DISPLAY");
      std::freopen((dir_ + "/" + args[0] + ".log").c_str(), "a", stderr);
      std::freopen("/dev/null", "w", stdout);
      execvp(args[0], args.data());
      _exit(127);
    }
    return pid;
  }

  bool Run(std::initializer_list<const char*> argv) {
    const pid_t pid = Spawn(argv);
    int status = 0;
    return pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }

  static bool WaitFor(const std::string& path) {
    for (int i = 0; i < 100; ++i) {
      if (std::filesystem::exists(path)) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

  std::string kind_, dir_;
  std::vector<pid_t> daemons_;
  pid_t bus_ = -1;
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

class ServerRestart : public testing::TestWithParam<const char*> {};

TEST_P(ServerRestart, TheMusicAndThePictureSurviveTheServerGoingAndComingBack) {
  TempDir dir;
  PrivateServer server(GetParam(), dir.path());
  const std::vector<const char*> tools = server.PipeWire()
                                            ? std::vector<const char*>{"pipewire", "wireplumber", "pipewire-pulse",
                                                                       "dbus-daemon", "pw-metadata", "pactl"}
                                            : std::vector<const char*>{"pulseaudio", "pactl"};
  for (const char* tool : tools)
    if (!Installed(tool)) GTEST_SKIP() << tool << " is not installed (scripts/install-deps installs it)";
  setenv("PULSE_SERVER", ("unix:" + server.PulseSocket()).c_str(), 1);
  const std::string pipewire = server.PipeWire() ? server.PipeWireSocket() : dir / "no-pipewire";
  setenv("PIPEWIRE_REMOTE", pipewire.c_str(), 1);
  ASSERT_TRUE(server.Start()) << GetParam() << " did not start (see its logs in " << dir.path() << ")";
  ExpectMusicSurvivesItsOutput(dir, {[&] { server.Kill(); }, [&] { return server.Start(); }, [] { return SinkInputs(); }});
}

INSTANTIATE_TEST_SUITE_P(Servers, ServerRestart, testing::Values("pulseaudio", "pipewire"),
                         [](const testing::TestParamInfo<const char*>& info) {
                           return std::string(info.param) == "pipewire" ? "PipeWire" : "PulseAudio";
                         });

}  // namespace
