#include "StopSignals.h"

#include <csignal>

#include <pthread.h>

namespace host {

// Taken by the main thread alone, so the device threads never see them and
// the stop is decided in one place. Blocked from the start: a signal while
// the demo's simulator starts waits for the loop.
sigset_t blockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    // A closed terminal or SSH session, and Ctrl-\, end the host as cleanly.
    sigaddset(&signals, SIGHUP);
    sigaddset(&signals, SIGQUIT);
    sigaddset(&signals, SIGWINCH);
    // Not a stop: the demo's simulator ended, which the main loop wants to know at once.
    sigaddset(&signals, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return signals;
}

}  // namespace host
