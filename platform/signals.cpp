#include "platform/signals.h"

#include <csignal>
#include <initializer_list>

namespace platform {
namespace {
volatile std::sig_atomic_t closeSignalled = 0;

extern "C" void OnCloseSignal(int) { closeSignalled = 1; }
}  // namespace

void InstallCloseSignals() {
  struct sigaction action {};
  action.sa_handler = OnCloseSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &action, nullptr);
}

bool TakeCloseSignal() {
  if (!closeSignalled) return false;
  closeSignalled = 0;
  return true;
}

}  // namespace platform
