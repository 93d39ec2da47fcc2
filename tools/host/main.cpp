// quorlix-host: the reference host for Quorlix device plug-ins.
#include "HostOptions.h"
#include "HostRun.h"
#include "MirrorRun.h"
#include "Watch.h"

#include <atomic>
#include <csignal>
#include <cstdio>

#ifndef QUORLIX_VERSION
#define QUORLIX_VERSION "unknown"
#endif

namespace {

std::atomic<bool> gStop{false};

extern "C" void onStop(int) { gStop.store(true); }

}  // namespace

int main(int argc, char** argv) {
    host::HostOptions options;
    std::string error;
    if (!host::parseHostOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "quorlix-host: %s\n", error.c_str());
        return 2;
    }
    if (options.help) {
        std::fputs(host::kHostUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("quorlix-host %s\n", QUORLIX_VERSION);
        return 0;
    }
    if (options.mode == host::HostOptions::Mode::watch) {
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(signal, onStop);
        return host::runWatch(options.watch, gStop);
    }
    if (options.mode == host::HostOptions::Mode::mirror) {
        for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) std::signal(signal, onStop);
        std::signal(SIGPIPE, SIG_IGN);
        return host::runMirror(options.mirror, gStop);
    }
    return host::runHost(options);
}
