#include "HostRun.h"

#include "ChildProgram.h"
#include "ConfigSource.h"
#include "DemoLine.h"
#include "DeviceSet.h"
#include "HostLog.h"
#include "LockWatch.h"
#include "Outputs.h"
#include "PluginSet.h"
#include "PortCheck.h"
#include "SharedStorages.h"
#include "StopSignals.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <memory>

namespace host {

namespace {

// Why the output stopped, for the status: a reader that went away (EPIPE) is
// a normal end, as for any filter.
int outputStatus(int failure) {
    if (failure == EPIPE) return 0;
    hostMessage(std::string("standard output: ") + std::strerror(failure));
    return 1;
}

// Until a stop signal, the end of --duration or of the demo's script, or
// standard output going away; the exit status so far. Nothing here needs
// more than a look as often as the view wants one (a lock another program
// keeps, a plain view's next block, an output that went away); signals, the
// demo's simulator ending (SIGCHLD) and the end of --duration wake it at once.
int waitForStop(const HostOptions& options, const sigset_t& signals, ChildProgram& sim, Outputs& outputs,
                const SharedStorages& storages) {
    LockWatch locks(storages);
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    const auto until = started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.duration));
    for (;;) {
        auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(outputs.period());
        if (options.duration > 0) {
            const Clock::duration left = until - Clock::now();
            if (left <= Clock::duration::zero()) return 0;
            wait = std::min(wait, std::chrono::duration_cast<std::chrono::nanoseconds>(left) + std::chrono::nanoseconds(1));
        }
        timespec timeout{static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
        int signal = sigtimedwait(&signals, nullptr, &timeout);
        if (signal == SIGWINCH) outputs.resize();
        else if (signal > 0 && signal != SIGCHLD) return 0;
        if (options.duration > 0 && Clock::now() >= until) return 0;
        if (options.config.empty() && options.port.empty() && sim.finished()) return 0;
        if (int failure = outputs.failure()) return outputStatus(failure);
        const auto now = Clock::now();
        outputs.refresh(locks.warnings(now), now);
    }
}

// A stuck thread still uses the plug-in and the storages: nothing is torn
// down under it. The name is given up, the terminal put back.
[[noreturn]] void leaveStuck(const std::vector<std::string>& stuck, Outputs& outputs, ChildProgram& sim,
                             SharedStorages& storages) {
    outputs.finishView();
    sim.terminate();
    outputs.stopLog();
    storages.release();
    for (const std::string& message : stuck) hostMessage(message);
    hostMessage("stopped without the devices above; their threads end with the host");
    std::fflush(nullptr);
    std::_Exit(1);
}

}  // namespace

int runHost(const HostOptions& options) {
    const sigset_t signals = blockStopSignals();
    // Declared first, so that on any return the demo's simulator ends last.
    ChildProgram sim;

    // The configuration and the plug-ins it names.
    HostConfig config;
    std::string error;
    if (!loadConfig(options, config, error)) {
        std::fprintf(stderr, "quorlix-host: %s\n", error.c_str());
        return 2;
    }
    PluginSet plugins;
    if (!plugins.loadAll(config, options)) return 2;

    // The storages the devices write.
    std::unique_ptr<SharedStorages> storages = SharedStorages::create(
        options.shm, config.logger, error, options.shmGroup.empty() ? config.shmGroup : options.shmGroup);
    if (!storages) {
        std::fprintf(stderr, "quorlix-host: %s\n", error.c_str());
        return 1;
    }

    // The outputs, and the lines: the demo's simulator starts last of all
    // that can still fail.
    Outputs outputs;
    if (!outputs.prepare(options, config, *storages)) return 2;
    if (!startDemoLine(options, sim, config, error)) {
        hostMessage(error);
        return 2;
    }
    if (!portsUsable(config, !options.port.empty())) return 2;
    outputs.route(options.view, config);

    // The devices, on the outputs' bus.
    DeviceSet devices(config, plugins, *storages, outputs.bus(), options.realtime >= 0 ? options.realtime : config.realtime);
    const bool started = devices.connectAll(options.keepGoing);
    outputs.show(devices, *storages);

    // The run, until it is stopped.
    int status = started ? 0 : 1;
    if (started) {
        devices.startAll();
        status = waitForStop(options, signals, sim, outputs, *storages);
        const std::vector<std::string> stuck = devices.stopAll();
        if (!stuck.empty()) leaveStuck(stuck, outputs, sim, *storages);
    } else {
        devices.cancel();
    }

    // The stop: the devices, then what was queued for the network, before
    // the host says how it went.
    std::cout.flush();
    if (started) outputs.finishView();
    std::string line = "quorlix-host: " + devices.summary() + "\n";
    outputs.endView();
    devices.clear();
    const std::string oscStatus = outputs.stopPublisher();
    if (!oscStatus.empty()) line += "quorlix-host: " + oscStatus + "\n";
    sim.terminate();
    outputs.stopLog();
    storages.reset();
    if (started) {
        outputs.sayLast(line);
    } else {
        // The view never showed what the device said: it goes where the log goes without one.
        outputs.replayLog();
        hostMessage("a device could not be started; nothing runs (--keep-going runs the others)");
    }
    return status;
}

}  // namespace host
