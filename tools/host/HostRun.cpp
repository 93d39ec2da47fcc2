#include "HostRun.h"

#include "ChangeFanOut.h"
#include "ConfigReader.h"
#include "DeviceRunner.h"
#include "HostLog.h"
#include "LockWatch.h"
#include "JsonFeed.h"
#include "LiveModel.h"
#include "LogCapture.h"
#include "OptionHints.h"
#include "OscPublisher.h"
#include "PluginLibrary.h"
#include "PortCheck.h"
#include "ProcessInfo.h"
#include "Screen.h"
#include "SharedStorages.h"
#include "WriteAll.h"
#include "ChildProgram.h"
#include "InstallPaths.h"
#include "VisibleText.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#ifndef QUORLIX_VERSION
#define QUORLIX_VERSION "unknown"
#endif

namespace host {

namespace {

// How long the devices get to return after a stop; within the two seconds a
// user or a service manager waits.
constexpr std::chrono::milliseconds kStopWithin{1500};

// Listeners for views that need no record: the devices still run.
class NoListener : public ChangeListener {
public:
    void changed(const ChangeEvent&) override {}
};

// Why the output stopped, for the status: a reader that went away (EPIPE) is
// a normal end, as for any filter.
int outputStatus(int failure) {
    if (failure == EPIPE) return 0;
    hostMessage(std::string("standard output: ") + std::strerror(failure));
    return 1;
}

std::string summary(const std::vector<std::unique_ptr<DeviceRunner>>& runners) {
    std::uint64_t records = 0, changes = 0, errors = 0;
    for (const auto& r : runners) {
        records += r->stats().records.load();
        changes += r->stats().changes.load();
        errors += r->stats().errors.load();
    }
    return std::to_string(records) + " records received, " + std::to_string(changes) + " changes published, " +
           std::to_string(errors) + " errors";
}

bool loadConfig(const HostOptions& options, HostConfig& config, std::string& error) {
    if (!options.config.empty()) {
        if (readConfigFile(options.config, config, error)) return true;
        // A mistyped command reads as a file name that is not there.
        struct stat info {};
        bool missing = stat(options.config.c_str(), &info) != 0 && errno == ENOENT;
        if (missing && options.config.find_first_of("/.") == std::string::npos)
            error = "\"" + visibleText(options.config) +
                    "\" is neither a command (watch, mirror) nor a configuration file (see --help)";
        return false;
    }
    // The demo's line is filled in when its simulator runs (startDemoLine).
    std::istringstream text(builtInConfig(options.port));
    return readConfig(text, "<built-in>", config, error);
}

// The demo's wand is the simulator's. It starts once everything else has
// been checked, so that a mistake on the command line leaves no simulator
// behind to complain that it was stopped.
bool startDemoLine(const HostOptions& options, ChildProgram& sim, HostConfig& config, std::string& error) {
    if (!options.config.empty() || !options.port.empty()) return true;
    std::string program = options.sim.empty() ? builtInSimPath() : options.sim;
    if (!sim.start(program, {"--demo", "--quiet", "--stay"}, error)) {
        error = "starting the simulator: " + error;
        return false;
    }
    std::string port = sim.port(std::chrono::seconds(10));
    if (port.empty()) {
        error = "the simulator " + program + " named no line";
        return false;
    }
    for (DeviceConfig& d : config.devices)
        for (OptionLine& o : d.options)
            if (o.name == "serialport") o.args = {port};
    return true;
}

// Stop signals, and the terminal's SIGWINCH when it is resized, are taken by
// the main thread alone, so the device threads never see them and the flag is
// cleared in one place. Blocked from the start: a signal while the demo's
// simulator starts waits for the loop.
sigset_t blockHostSignals() {
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

using Libraries = std::map<std::string, std::unique_ptr<PluginLibrary>>;

// Every library loads before anything starts; false (reported) when one does not.
bool loadLibraries(const HostConfig& config, const HostOptions& options, const std::string& builtIn,
                   Libraries& libraries) {
    std::string error;
    for (const DeviceConfig& d : config.devices) {
        std::string path = resolveLibrary(d.library, config.fileName, builtIn);
        if (libraries.count(path)) continue;
        std::unique_ptr<PluginLibrary> library(new PluginLibrary());
        if (!library->load(path, error)) {
            // Where the path came from is what the user must change; the
            // loader's text names the path already.
            if (d.library == "quorlix" && !options.plugin.empty())
                hostMessage("--plugin: " + error);
            else if (d.library == "quorlix" && options.config.empty())
                hostMessage("the built-in plug-in (--plugin names another): " + error);
            else
                hostMessage(config.fileName + ":" + std::to_string(d.line) + ": cannot load " + d.library + ": " +
                            error);
            return false;
        }
        libraries[path] = std::move(library);
    }
    return true;
}

// Where things go: standard output carries the view's data alone (JSON lines,
// plain text, the summary); the devices' log and the host's messages go to
// standard error, next to each other, in every mode. A live view owns the
// terminal and shows the log inside.
struct Outputs {
    HostOptions::View view = HostOptions::View::automatic;
    int dataFd = STDOUT_FILENO;  // the view's data (a copy of standard output, or the terminal)
    LiveModel model;
    std::unique_ptr<ChangeListener> listener;
    ChangeListener* target = &model;
    JsonFeed* json = nullptr;
    std::unique_ptr<LogCapture> capture;
    int logFile = -1;  // --log
};

// The log inside a live view; without one, on standard error, with a copy of
// standard output kept for the data. --log gets every byte either way.
void routeLog(const HostConfig& config, Outputs& out) {
    if (out.view == HostOptions::View::live) {
        std::vector<std::string> devices;
        for (const DeviceConfig& d : config.devices) devices.push_back(d.name);
        out.capture.reset(new LogCapture(200, devices));
        out.capture->keepIn(out.logFile);
        if (out.capture->start(out.dataFd)) return;
        out.capture.reset();
        out.view = HostOptions::View::plain;
    }
    std::cout.flush();
    out.dataFd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    if (out.logFile < 0) return;
    out.capture.reset(new LogCapture(0));
    out.capture->keepIn(out.logFile);
    out.capture->passOn();
    int unused = -1;
    if (!out.capture->start(unused)) out.capture.reset();
}

void routeOutputs(HostOptions::View requested, const HostConfig& config, Outputs& out) {
    out.view = requested;
    if (out.view == HostOptions::View::automatic)
        out.view = isatty(STDOUT_FILENO) ? HostOptions::View::live : HostOptions::View::plain;
    routeLog(config, out);
    if (out.view == HostOptions::View::json) {
        out.json = new JsonFeed(out.dataFd);
        out.listener.reset(out.json);
        out.target = out.listener.get();
    } else if (out.view == HostOptions::View::none) {
        out.listener.reset(new NoListener());
        out.target = out.listener.get();
    }
}

// False (reported) when a device's port cannot be a serial line at all;
// warns of other programs that hold a port and may take its bytes.
bool portsUsable(const HostConfig& config, const HostOptions& options) {
    for (const DeviceConfig& d : config.devices) {
        const std::string port = configuredPort(d);
        if (port.empty()) continue;
        std::string refusal = portRefusal(port);
        if (!refusal.empty()) {
            // The built-in configuration is the one --port fills in.
            hostMessage((options.port.empty() ? config.fileName + ": " + d.name : std::string("--port")) + ": " +
                        refusal);
            return false;
        }
        for (pid_t holder : portHolders(port))
            hostMessage(d.name + ": warning: " + port + " is also open in " + describeProcess(holder) +
                        ", which may take the wand's bytes (ModemManager does so with new adapters)");
    }
    return true;
}

// What the host can add to a device's own messages when its init failed.
void explainFailure(const DeviceRunner& runner, const DeviceConfig& config, const std::string& fileName) {
    if (config.library == "quorlix")
        for (const std::string& hint : optionHints(fileName, config, runner.options())) hostMessage(hint);
    if (!runner.port().empty())
        for (const std::string& hint : portHints(runner.port())) hostMessage(runner.name() + ": " + hint);
}

// One after another, so each device finds the entries of those before it.
bool connectAll(std::vector<std::unique_ptr<DeviceRunner>>& runners, const HostConfig& config, bool keepGoing) {
    for (std::size_t i = 0; i < runners.size(); ++i) {
        if (config.devices[i].library == "quorlix")
            for (const std::string& note : defaultNotes(config.fileName, config.devices[i])) hostMessage(note);
        if (runners[i]->connect()) continue;
        explainFailure(*runners[i], config.devices[i], config.fileName);
        if (!keepGoing) return false;
    }
    return true;
}

std::string screenTitle(std::size_t devices, const SharedStorages& storages, const OscPublisher* publisher) {
    std::string osc;
    if (publisher != nullptr) {
        const std::size_t n = publisher->targets().size();
        osc = "   OSC to " + std::to_string(n) + (n == 1 ? " receiver" : " receivers");
    }
    return std::string("quorlix-host ") + QUORLIX_VERSION + "   " + std::to_string(devices) +
           (devices == 1 ? " device" : " devices") + "   storages " +
           (storages.shmName().empty() ? "private" : "in " + storages.shmName()) + osc + "   Ctrl-C stops";
}

// The receivers of the command line, else those of the configuration.
std::unique_ptr<OscPublisher> makePublisher(const HostOptions& options, const HostConfig& config,
                                            SharedStorages& storages, std::string& error) {
    OscSettings settings;
    for (const std::string& url : options.osc) settings.receivers.push_back({url, "--osc"});
    if (settings.receivers.empty())
        for (const OscLine& l : config.osc)
            settings.receivers.push_back({l.url, config.fileName + ":" + std::to_string(l.line) + ": osc"});
    if (settings.receivers.empty()) return nullptr;
    settings.ttl = options.oscTtl > 0 ? options.oscTtl : config.oscTtl;
    return OscPublisher::create(settings, storages, error);
}

// Sends that failed and changes the queue could not take: a line for the
// view, and for the log when there is no view, once they grow.
class OscTrouble {
public:
    explicit OscTrouble(const OscPublisher* publisher) : publisher_(publisher) {}
    std::vector<std::string> lines(bool logged, std::chrono::steady_clock::time_point now) {
        if (publisher_ == nullptr) return {};
        const std::uint64_t failures = publisher_->sendFailures(), drops = publisher_->queueDrops();
        if (failures == 0 && drops == 0) return {};
        std::string line = "OSC: " + std::to_string(failures) + " sends failed, " + std::to_string(drops) +
                           " changes dropped (queue full)";
        const std::string last = publisher_->lastFailure();
        if (!last.empty()) line += "; last: " + last;
        if (logged && failures + drops != reported_ && now - lastReport_ >= std::chrono::seconds(10)) {
            hostMessage(line);
            reported_ = failures + drops;
            lastReport_ = now;
        }
        return {line};
    }

private:
    const OscPublisher* publisher_;
    std::uint64_t reported_ = 0;
    std::chrono::steady_clock::time_point lastReport_{};
};

// Until a stop signal, the end of --duration or of the demo's script, or
// standard output going away; the exit status so far.
int runUntilStopped(const HostOptions& options, const sigset_t& signals, ChildProgram& sim, Screen& screen,
                    const Outputs& out, const SharedStorages& storages, const OscPublisher* publisher) {
    LockWatch locks(storages);
    OscTrouble osc(publisher);
    const bool logged = out.view != HostOptions::View::live && out.view != HostOptions::View::plain;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point started = Clock::now();
    const auto until = started + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(options.duration));
    // A live view is drawn ten times a second. Otherwise nothing here needs
    // more than a look once a second (a lock another program keeps, a plain
    // view's next block, an output that went away); signals, the demo's
    // simulator ending (SIGCHLD) and the end of --duration wake it at once.
    const std::chrono::milliseconds period(out.view == HostOptions::View::live ? 100 : 1000);
    for (;;) {
        auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(period);
        if (options.duration > 0) {
            const Clock::duration left = until - Clock::now();
            if (left <= Clock::duration::zero()) return 0;
            wait = std::min(wait, std::chrono::duration_cast<std::chrono::nanoseconds>(left) + std::chrono::nanoseconds(1));
        }
        timespec timeout{static_cast<time_t>(wait.count() / 1000000000), static_cast<long>(wait.count() % 1000000000)};
        int signal = sigtimedwait(&signals, nullptr, &timeout);
        if (signal == SIGWINCH) screen.resize();
        else if (signal > 0 && signal != SIGCHLD) return 0;
        if (options.duration > 0 && Clock::now() >= until) return 0;
        if (options.config.empty() && options.port.empty() && sim.finished()) return 0;
        int failure = out.json != nullptr ? out.json->failure() : screen.failure();
        if (failure != 0) return outputStatus(failure);
        const auto now = Clock::now();
        std::vector<std::string> warnings = locks.warnings(now);
        for (std::string& line : osc.lines(logged, now)) warnings.push_back(std::move(line));
        screen.setWarnings(std::move(warnings));
        screen.tick();
    }
}

// Every device returns within a read time-out, unless it is blocked in a
// storage lock that some other program keeps: such a device is named and
// left behind, so that the host still stops.
std::vector<std::string> stopAll(std::vector<std::unique_ptr<DeviceRunner>>& runners, std::int32_t& runFlag) {
    __atomic_store_n(&runFlag, 0, __ATOMIC_RELAXED);
    std::vector<std::string> stuck;
    auto deadline = std::chrono::steady_clock::now() + kStopWithin;
    for (auto& r : runners) {
        if (!r->joinBefore(deadline))
            stuck.push_back(r->name() + ": did not stop within " + std::to_string(kStopWithin.count()) + " ms: " +
                            r->whyStuck());
    }
    return stuck;
}

}  // namespace

int runHost(const HostOptions& options) {
    const sigset_t signals = blockHostSignals();

    ChildProgram sim;
    HostConfig config;
    std::string error;
    if (!loadConfig(options, config, error)) {
        std::fprintf(stderr, "quorlix-host: %s\n", error.c_str());
        return 2;
    }
    if (options.debugLevel >= 0) config.logger.debugLevel = options.debugLevel;

    const std::string builtIn = options.plugin.empty() ? builtInPluginPath() : options.plugin;
    Libraries libraries;
    if (!loadLibraries(config, options, builtIn, libraries)) return 2;

    std::unique_ptr<SharedStorages> storages = SharedStorages::create(options.shm, config.logger, error,
                                                                      options.shmGroup.empty() ? config.shmGroup : options.shmGroup);
    if (!storages) {
        std::fprintf(stderr, "quorlix-host: %s\n", error.c_str());
        return 1;
    }

    error.clear();
    std::unique_ptr<OscPublisher> publisher = makePublisher(options, config, *storages, error);
    if (!publisher && !error.empty()) {
        hostMessage(error);
        return 2;
    }

    Outputs out;
    if (!options.log.empty()) {
        out.logFile = ::open(options.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (out.logFile < 0) {
            hostMessage("--log: " + options.log + ": " + std::strerror(errno));
            return 2;
        }
    }
    if (!startDemoLine(options, sim, config, error)) {
        hostMessage(error);
        return 2;
    }
    if (!portsUsable(config, options)) return 2;
    routeOutputs(options.view, config, out);

    // The network gets every change too, from a thread of its own; first,
    // because handing a change over costs less than showing it.
    ChangeFanOut listeners;
    if (publisher) {
        listeners.add(*publisher);
        publisher->start();
    }
    listeners.add(*out.target);

    std::int32_t runFlag = 1;
    std::vector<std::unique_ptr<DeviceRunner>> runners;
    const int realtime = options.realtime >= 0 ? options.realtime : config.realtime;
    for (const DeviceConfig& d : config.devices) {
        PluginLibrary& library = *libraries[resolveLibrary(d.library, config.fileName, builtIn)];
        runners.emplace_back(new DeviceRunner(d, library, *storages, config.logger, listeners, &runFlag));
        runners.back()->setRealtime(realtime);
    }
    const bool devicesStarted = connectAll(runners, config, options.keepGoing);
    int status = devicesStarted ? 0 : 1;
    Screen screen(out.view, out.dataFd, out.model, out.capture.get(),
                  screenTitle(runners.size(), *storages, publisher.get()), runners);
    std::vector<std::string> stuck;
    if (devicesStarted) {
        for (auto& r : runners) r->start();
        status = runUntilStopped(options, signals, sim, screen, out, *storages, publisher.get());
        stuck = stopAll(runners, runFlag);
    } else {
        __atomic_store_n(&runFlag, 0, __ATOMIC_RELAXED);
    }
    if (!stuck.empty()) {
        // A stuck thread still uses the plug-in and the storages: nothing is
        // torn down under it. The name is given up, the terminal put back.
        screen.finish();
        sim.terminate();
        if (out.capture) out.capture->stop();
        storages->release();
        for (const std::string& message : stuck) hostMessage(message);
        hostMessage("stopped without the devices above; their threads end with the host");
        std::fflush(nullptr);
        std::_Exit(1);
    }
    std::cout.flush();
    if (devicesStarted) screen.finish();
    std::string line = "quorlix-host: " + summary(runners) + "\n";
    runners.clear();
    if (publisher) {
        // What was queued goes out before the host says how it went.
        publisher->stop();
        line += "quorlix-host: " + publisher->status() + "\n";
    }
    sim.terminate();
    if (out.capture) out.capture->stop();
    storages.reset();
    if (devicesStarted)
        writeAll(out.view == HostOptions::View::json   ? STDERR_FILENO
                 : out.view == HostOptions::View::live ? STDOUT_FILENO
                                                       : out.dataFd,
                 line);
    else {
        // The view never showed what the device said: it goes where the log goes without one.
        if (out.view == HostOptions::View::live)
            for (const std::string& l : out.capture->latest()) writeAll(STDERR_FILENO, visibleText(l) + "\n");
        hostMessage("a device could not be started; nothing runs (--keep-going runs the others)");
    }
    if (out.view != HostOptions::View::live && out.dataFd >= 0) ::close(out.dataFd);
    if (out.logFile >= 0) ::close(out.logFile);
    return status;
}

}  // namespace host
