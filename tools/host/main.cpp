// quorlix-host: the reference host for Quorlix device plug-ins.
#include "HostOptions.h"
#include "ConfigSource.h"
#include "HostRun.h"
#include "LineRelease.h"
#include "MirrorRun.h"
#include "Watch.h"

#include <atomic>
#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#ifndef QUORLIX_VERSION
#define QUORLIX_VERSION "unknown"
#endif

namespace {

std::atomic<bool> gStop{false};

extern "C" void onStop(int) { gStop.store(true); }

int runRelease(const host::HostOptions& options) {
    host::HostConfig config;
    std::string error;
    if (!host::loadConfig(options, config, error)) {
        std::fprintf(stderr, "quorlix-host release: %s\n", error.c_str());
        return 2;
    }
    std::vector<std::string> said;
    const bool looked = host::releaseLines(config, said);
    for (const std::string& line : said) std::fprintf(stderr, "quorlix-host release: %s\n", line.c_str());
    return looked ? 0 : 1;
}

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
    if (options.mode == host::HostOptions::Mode::release) return runRelease(options);
    return host::runHost(options);
}
