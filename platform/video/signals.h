// signals.h — SIGINT, SIGTERM and SIGHUP as close requests.
//
// What it is for: a demo killed from a terminal or by a session logout must
// still leave the way a closed window does, so that a switched display mode
// is restored. The handlers only raise a flag; the backends' message pumps
// turn it into a close message for the demo window. The core decides.
#pragma once

namespace platform {

void InstallCloseSignals();
// True when a signal arrived since the last call (several collapse into one).
bool TakeCloseSignal();

}  // namespace platform
