// x_session.h — helpers for the tests that run under the virtual X server:
// a child process with a deadline, the demo started in it as a user starts
// it, the windows on the screen, and xdotool with a timeout.
//
// Child runs a function in a forked process (so a dialog that never ends
// can be killed, and FLTK's display state starts fresh each time) and waits
// for it with a limit; a child still running when the object goes is
// killed. `ExecDemo` is such a body: the built demo in a folder.
// `Windows` lists the viewable windows of a title through the shell tests'
// X11 helper (X11_TOOL, a compile definition of every suite that includes
// this). Every X call runs under `timeout`, so no wait in these tests is
// unbounded.
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>

#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace xsession {

inline bool HaveDisplay() {
  const char* d = std::getenv("DISPLAY");
  return d && *d;
}

// Runs a shell command and returns what it printed on stdout.
inline std::string Shell(const std::string& command) {
  std::string out;
  if (FILE* p = popen(command.c_str(), "r")) {
    char buf[256];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
  }
  return out;
}

// The first viewable window titled exactly `title`, waiting up to `seconds`;
// empty when none came. Searches again until the deadline rather than
// trusting one `xdotool search --sync`: xdotool gives up on the X error it
// gets when another test's window disappears while it walks the tree.
inline std::string FindWindow(const std::string& title, int seconds = 10) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  do {
    const std::string out =
        Shell("timeout 5 xdotool search --onlyvisible --name '^" + title + "$' 2>/dev/null");
    const size_t eol = out.find('\n');
    const std::string first = eol == std::string::npos ? out : out.substr(0, eol);
    if (!first.empty()) return first;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  } while (std::chrono::steady_clock::now() < end);
  return {};
}

// Gives the window the keyboard focus, then types the keys (xdotool names,
// separated by spaces).
inline bool PressKeys(const std::string& window, const std::string& keys) {
  return std::system(("timeout 10 xdotool windowfocus --sync " + window + " key --delay 50 " + keys +
                      " >/dev/null 2>&1")
                         .c_str()) == 0;
}

// A virtual X screen of its own, for a test that needs a screen of a given
// size or switches its modes without disturbing the suite's screen: an Xvfb
// started by process id, made this process's DISPLAY (inherited by children
// and the xdotool calls) until the object goes, then stopped. `AddModes`
// adds display modes to it ("1024x768 800x600", each no larger than the
// screen), so that a program can switch to them.
class PrivateScreen {
 public:
  PrivateScreen(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0) return;
    const char* previous = std::getenv("DISPLAY");
    if (previous) previous_ = previous;
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      close(fds[0]);
      const std::string fd = std::to_string(fds[1]);
      const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
      execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-noreset", "-nolisten",
             "tcp", static_cast<char*>(nullptr));
      _exit(127);
    }
    close(fds[1]);
    // Xvfb writes its display number and a newline once it accepts clients.
    std::string number;
    char c;
    while (pid_ > 0 && number.find('\n') == std::string::npos) {
      const ssize_t n = read(fds[0], &c, 1);
      if (n == 1) number += c;
      else if (n == 0 || errno != EINTR) break;
    }
    close(fds[0]);
    if (number.empty() || number.back() != '\n') return;
    number.pop_back();
    display_ = ":" + number;
    setenv("DISPLAY", display_.c_str(), 1);
  }
  ~PrivateScreen() {
    if (previous_.empty()) unsetenv("DISPLAY");
    else setenv("DISPLAY", previous_.c_str(), 1);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  PrivateScreen(const PrivateScreen&) = delete;
  PrivateScreen& operator=(const PrivateScreen&) = delete;

  bool Started() const { return !display_.empty(); }
  bool AddModes(const std::string& modes) const {
    return std::system((std::string(SORVANE_SOURCE_DIR "/tests/support/add-test-modes ") + modes + " >/dev/null").c_str()) == 0;
  }
  // "1024x768": the screen's mode now, as RandR reports it.
  static std::string CurrentMode() {
    const std::string out = Shell("timeout 5 xrandr 2>/dev/null");
    const size_t at = out.find(" current ");
    if (at == std::string::npos) return {};
    int w = 0, h = 0;
    if (std::sscanf(out.c_str() + at, " current %d x %d", &w, &h) != 2) return {};
    return std::to_string(w) + "x" + std::to_string(h);
  }

 private:
  pid_t pid_ = -1;
  std::string display_, previous_;
};

class Child {
 public:
  // The child's exit status is `body()`'s value & 0xFF.
  explicit Child(const std::function<int()>& body) {
    std::fflush(nullptr);
    pid_ = fork();
    if (pid_ == 0) _exit(body() & 0xFF);
  }
  ~Child() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }
  bool Running() { return !Wait(std::chrono::milliseconds(0)); }
  void Signal(int signal) { kill(pid_, signal); }

  // The exit status (128 + the signal's number after a signal), waiting up
  // to `limit`; nothing while the child still runs.
  std::optional<int> Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (pid_ > 0 && !status_) {
      int st = 0;
      if (waitpid(pid_, &st, WNOHANG) == pid_) {
        status_ = WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
        break;
      }
      if (std::chrono::steady_clock::now() >= end) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return status_;
  }

 private:
  pid_t pid_ = -1;
  std::optional<int> status_;
};

struct XWindow {
  std::string id;
  int width = 0;
  int height = 0;
};

// The viewable top-level windows titled exactly `title`, through the X11
// helper, which also sees titles typed UTF8_STRING.
inline std::vector<XWindow> Windows(const std::string& title) {
  std::vector<XWindow> found;
  const std::string out = Shell("timeout 5 '" X11_TOOL "' list '" + title + "' 2>/dev/null");
  size_t start = 0;
  while (start < out.size()) {
    size_t end = out.find('\n', start);
    if (end == std::string::npos) end = out.size();
    XWindow w;
    char id[64] = {};
    if (std::sscanf(out.substr(start, end - start).c_str(), "%63s %d %d", id, &w.width, &w.height) == 3) {
      w.id = id;
      found.push_back(w);
    }
    start = end + 1;
  }
  return found;
}

// The environment without DISPLAY, for a demo started with no display;
// made before the fork, since a forked child only execs.
inline std::vector<char*> EnvironmentWithoutDisplay() {
  std::vector<char*> env;
  for (char** e = environ; *e; ++e)
    if (std::string(*e).rfind("DISPLAY=", 0) != 0) env.push_back(*e);
  env.push_back(nullptr);
  return env;
}

// A Child's body: the built demo `program` in `folder`, its errors into
// `errors` when given, with the environment `env` when given. Returns only
// when it cannot start (120: no folder, 121: no program).
inline int ExecDemo(const char* program, const char* folder, const char* errors = nullptr,
                    char* const* env = nullptr) {
  if (errors) {
    const int fd = open(errors, O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) dup2(fd, 2);
  }
  if (chdir(folder) != 0) return 120;
  char* const argv[] = {const_cast<char*>("sorvane"), nullptr};
  execve(program, argv, env ? env : environ);
  return 121;
}

}  // namespace xsession
