#include "platform/video/signals.h"

#include <csignal>
#include <initializer_list>

namespace platform {
namespace {
volatile std::sig_atomic_t closeSignalled = 0;

extern "C" void OnCloseSignal(int sig) {
#ifdef _WIN32
  // The C runtime resets a handler to the default once it has run.
  std::signal(sig, OnCloseSignal);
#else
  (void)sig;
#endif
  closeSignalled = 1;
}
}  // namespace

void InstallCloseSignals() {
#ifdef _WIN32
  // Windows has no SIGHUP and no sigaction; Ctrl+C on a console raises SIGINT.
  for (int sig : {SIGINT, SIGTERM}) std::signal(sig, OnCloseSignal);
#else
  struct sigaction action {};
  action.sa_handler = OnCloseSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
#endif
}

bool TakeCloseSignal() {
  if (!closeSignalled) return false;
  closeSignalled = 0;
  return true;
}

}  // namespace platform
