#include <linux/capability.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/audio/ogg_stream.h"
#include "platform/video/null_video.h"
#include "shell/shell.h"
#include "tests/hostile/hostile.h"

namespace hostile {

namespace {

constexpr const char* kMusicFile = "04-Slow_Amber_Circles.ogg";
// The track is under five minutes; a drain that decodes twice that has
// lost its end.
constexpr double kDrainCapSeconds = 600.0;

long StatusField(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string prefix = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.rfind(prefix, 0) == 0) return std::atol(line.c_str() + prefix.size());
  return 0;
}

// Decodes the stream to its end; the seconds decoded, or -1 when it does not
// open. `endless` is set when the cap is reached first.
double DrainMusic(bool& endless) {
  platform::OggStream stream;
  if (!stream.Open(kMusicFile)) return -1;
  const size_t cap = static_cast<size_t>(kDrainCapSeconds * stream.Rate());
  std::vector<int16_t> buffer(4096 * static_cast<size_t>(stream.Channels()));
  size_t frames = 0;
  for (size_t got; (got = stream.Read(buffer.data(), 4096)) > 0;) {
    frames += got;
    if (frames > cap) {
      endless = true;
      break;
    }
  }
  return static_cast<double>(frames) / stream.Rate();
}

// A child of root reads any file whatever its mode, which would turn every
// "no read permission" case into an intact run. Without the two capabilities
// that override file modes it meets them as any user does. Unprivileged, the
// capabilities are not held and nothing changes. False when they could not
// be dropped.
bool DropFileModeOverrides() {
  __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
  __user_cap_data_struct data[_LINUX_CAPABILITY_U32S_3]{};
  if (syscall(SYS_capget, &header, data) != 0) return false;
  for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
    const unsigned bit = 1u << (cap % 32);
    data[cap / 32].effective &= ~bit;
    data[cap / 32].permitted &= ~bit;
    data[cap / 32].inheritable &= ~bit;
  }
  return syscall(SYS_capset, &header, data) == 0;
}

// Everything the child does; never returns. It leaves by _exit: a sanitizer
// build still stops a child at its first memory error (seen as an exit
// without a report), but runs no leak check, because the uninstrumented GL
// driver's allocations carry no stack its suppressions could match.
[[noreturn]] void ChildMain(const std::string& caseDir, const ChildOptions& options, int reportFd) {
  if (chdir(caseDir.c_str()) != 0) _exit(120);
  if (!DropFileModeOverrides()) _exit(122);
  setenv("SDL_AUDIODRIVER", "dummy", 0);

  int runStatus = -1;
  std::string boxes;
  int presents = 0;
  {
    ResetShellState();
    auto gl = platform::CreateDesktopVideo();
    auto audio = platform::CreateSdlAudio();
    platform::NullVideo video;
    video.glDelegate = gl.get();
    // The dialog's "Demo" with a tiny window, so frames cost next to nothing.
    video.dialog = [](const platform::DialogTemplate&, platform::DialogProc) -> intptr_t {
      ActiveSettings->width = 128;
      ActiveSettings->height = 64;
      ActiveSettings->windowed = 1;
      return 1;
    };
    const int closeAfter = options.presents;
    video.onPresent = [&video, closeAfter](int n) {
      if (n == closeAfter) video.QueueMessage(platform::kMsgClose);
    };
    runStatus = RunDemo(video, *audio);
    for (const std::string& box : video.errorBoxes) boxes += box + "\n";
    presents = video.presents;
    ResetShellState();
  }
  bool endless = false;
  const double musicSeconds = options.drainMusic ? DrainMusic(endless) : -1.0;
  char head[256];
  std::snprintf(head, sizeof head, "%d %d %ld %.3f %d\n", runStatus, presents, StatusField("VmPeak"),
                musicSeconds, endless ? 1 : 0);
  const std::string report = head + boxes;
  // One write of a few hundred bytes: the pipe takes it whole.
  if (write(reportFd, report.data(), report.size()) < 0) _exit(121);
  close(reportFd);
  _exit(runStatus);
}

void ParseReport(const std::string& text, ChildReport& report) {
  std::istringstream in(text);
  int endless = 0;
  if (!(in >> report.runStatus >> report.presents >> report.vmPeakKb >> report.musicSeconds >> endless))
    return;
  report.reported = true;
  report.musicEndless = endless != 0;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line))
    if (!line.empty()) report.errorBoxes.push_back(line);
}

}  // namespace

ChildReport RunStartupInChild(const std::string& caseDir, const ChildOptions& options) {
  ChildReport report;
  int fds[2];
  if (pipe(fds) != 0) return report;
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return report;
  }
  if (pid == 0) {
    close(fds[0]);
    ChildMain(caseDir, options, fds[1]);
  }
  close(fds[1]);

  int status = 0;
  struct rusage usage {};
  const auto deadline = start + std::chrono::seconds(options.timeoutSeconds);
  for (;;) {
    const pid_t done = wait4(pid, &status, WNOHANG, &usage);
    if (done == pid) break;
    if (done < 0 && errno != EINTR) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      report.kind = ChildReport::Kind::TimedOut;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  report.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  report.maxRssKb = usage.ru_maxrss;

  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
  close(fds[0]);
  ParseReport(text, report);

  if (report.kind == ChildReport::Kind::TimedOut) return report;
  if (WIFSIGNALED(status)) {
    report.kind = ChildReport::Kind::Signalled;
    report.signal = WTERMSIG(status);
  } else if (WIFEXITED(status)) {
    report.kind = ChildReport::Kind::Exited;
    report.exitCode = WEXITSTATUS(status);
  }
  return report;
}

}  // namespace hostile
