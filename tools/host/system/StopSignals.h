// system/: what the host asks of the system: child programs, /proc, stop signals, its messages, whole writes.
#pragma once

#include <signal.h>

namespace host {

// Stop signals (SIGINT, SIGTERM, SIGHUP, SIGQUIT), the terminal's SIGWINCH
// and SIGCHLD blocked in the calling thread and every thread it starts, for
// the main thread to take with sigtimedwait; SIGPIPE ignored. The set taken.
sigset_t blockStopSignals();

}  // namespace host
