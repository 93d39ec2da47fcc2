#include "HostRun.h"

#include "ChildProgram.h"
#include "ConfigSource.h"
#include "DemoLine.h"
#include "DeviceSet.h"
#include "HostLog.h"
#include "Outputs.h"
#include "PluginSet.h"
#include "PortCheck.h"
#include "ServiceManager.h"
#include "SharedStorages.h"
#include "ShmGroupCheck.h"
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

// What the outputs get to write what is queued once the devices have stopped;
// with the devices' own bound, within the two seconds a stop may take.
constexpr std::chrono::milliseconds kOutputsEndWithin{400};

// Why the output stopped, for the status: a reader that went away (EPIPE) is
// a normal end, as for any filter.
int outputStatus(int failure) {
    if (failure == EPIPE) return 0;
    hostMessage(std::string("standard output: ") + std::strerror(failure));
    return 1;
}

// Until a stop signal, the end of --duration or of the demo's script, a
// device that could not be started, or standard output going away; the exit
// status so far. The devices start on a thread of their own meanwhile, so a
// stop is taken at any time. Nothing here needs more than a look as often as
// the view wants one (a plain view's next block, an output that went away);
// signals, the demo's simulator ending (SIGCHLD) and the end of --duration
// wake it at once.
int waitForStop(const HostOptions& options, const sigset_t& signals, ChildProgram& sim, Outputs& outputs,
                const DeviceSet& devices, PublishedView& view, ServiceManager& service) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    const auto until = started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.duration));
    for (;;) {
        auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(outputs.period());
        if (service.pingEvery().count() > 0) wait = std::min(wait, std::chrono::duration_cast<std::chrono::nanoseconds>(service.pingEvery()));
        if (options.duration > 0) {
            const Clock::duration left = until - Clock::now();
            if (left <= Clock::duration::zero()) return 0;
            wait = std::min(wait, std::chrono::duration_cast<std::chrono::nanoseconds>(left) + std::chrono::nanoseconds(1));
        }
        timespec timeout{static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
        int signal = sigtimedwait(&signals, nullptr, &timeout);
        view.renewHeartbeat();  // at least once a second: the loop's longest wait
        service.alive();
        if (devices.startState() == DeviceSet::Start::started) service.status(devices.statusLine());
        if (devices.startState() == DeviceSet::Start::failed) return 1;
        if (devices.faulty()) return 2;
        if (signal == SIGWINCH) outputs.resize();
        else if (signal > 0 && signal != SIGCHLD) return 0;
        if (options.duration > 0 && Clock::now() >= until) return 0;
        if (options.config.empty() && options.port.empty() && sim.finished()) return 0;
        if (devices.startState() == DeviceSet::Start::failed) return 1;
        if (devices.faulty()) return 2;
        if (int failure = outputs.failure()) return outputStatus(failure);
        outputs.refresh(Clock::now());
    }
}

// A stuck thread still uses the plug-in and the storages: nothing is torn
// down under it. The name is given up, the terminal put back.
[[noreturn]] void leaveStuck(const std::vector<std::string>& stuck, Outputs& outputs, ChildProgram& sim,
                             SharedStorages& storages) {
    const Outputs::Deadline deadline = std::chrono::steady_clock::now() + kOutputsEndWithin;
    outputs.finishView();
    outputs.endView(deadline);
    sim.terminate();
    outputs.stopLog(deadline);
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

    // The storages the devices write. A group that cannot have them is the
    // configuration's fault, which no try again mends.
    const std::string group = options.shmGroup.empty() ? config.shmGroup : options.shmGroup;
    if (!options.shm.empty() && !group.empty()) {
        const std::string problem = shmGroupProblem(group);
        if (!problem.empty()) {
            const std::string where = options.shmGroup.empty() ? config.fileName + ":" + std::to_string(config.shmGroupLine) + ": shm-group"
                                                               : std::string("--shm-group");
            std::fprintf(stderr, "quorlix-host: %s: %s\n", where.c_str(), problem.c_str());
            return 2;
        }
    }
    std::unique_ptr<SharedStorages> storages = SharedStorages::create(options.shm, config.logger, error, group);
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

    // The devices, on the outputs' bus, brought up while the main thread
    // waits for a stop.
    DeviceSet devices(config, plugins, *storages, outputs.bus(), options.realtime >= 0 ? options.realtime : config.realtime);
    outputs.show(devices, *storages);
    ServiceManager service;
    devices.startInBackground(options.keepGoing, [&service, &devices] { service.ready(devices.statusLine()); });
    int status = waitForStop(options, signals, sim, outputs, devices, storages->view(), service);
    service.stopping();
    const std::vector<std::string> stuck = devices.stopAll();
    if (!stuck.empty()) leaveStuck(stuck, outputs, sim, *storages);
    const bool started = devices.startState() == DeviceSet::Start::started;
    const bool faulty = devices.faulty();
    if (!started) status = 1;
    if (faulty) status = 2;

    // The stop: the devices, then what was queued for the outputs, before
    // the host says how it went.
    std::cout.flush();
    const Outputs::Deadline deadline = std::chrono::steady_clock::now() + kOutputsEndWithin;
    outputs.finishView();
    std::string line = "quorlix-host: " + devices.summary() + "\n";
    outputs.endView(deadline);
    devices.clear();
    const std::string oscStatus = outputs.stopPublisher(deadline);
    if (!oscStatus.empty()) line += "quorlix-host: " + oscStatus + "\n";
    const std::string vrpnStatus = outputs.stopVrpn(deadline);
    if (!vrpnStatus.empty()) line += "quorlix-host: " + vrpnStatus + "\n";
    sim.terminate();
    outputs.stopLog(deadline);
    storages.reset();
    if (started) {
        outputs.sayLast(line, deadline);
    } else {
        // The view never showed what the device said: it goes where the log goes without one.
        outputs.replayLog(deadline);
        hostMessage(faulty ? "a device's configuration is faulty (see above); nothing runs"
                           : "a device could not be started; nothing runs (--keep-going runs the others)");
    }
    return status;
}

}  // namespace host
