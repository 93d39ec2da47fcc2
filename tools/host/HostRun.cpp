#include "HostRun.h"

#include "ConfigReader.h"
#include "DeviceRunner.h"
#include "HostLog.h"
#include "JsonFeed.h"
#include "LiveModel.h"
#include "LogCapture.h"
#include "PluginLibrary.h"
#include "RateMeter.h"
#include "ScreenView.h"
#include "SharedStorages.h"
#include "ChildProgram.h"
#include "InstallPaths.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>
#include <vector>

#include <unistd.h>

#ifndef QUORLIX_VERSION
#define QUORLIX_VERSION "unknown"
#endif

namespace host {

namespace {

// Listeners for views that need no record: the devices still run.
class NoListener : public ChangeListener {
public:
    void changed(const ChangeEvent&) override {}
};

void writeAll(int fd, const std::string& text) {
    const char* data = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n <= 0) return;
        data += n;
        left -= static_cast<std::size_t>(n);
    }
}

// The view the terminal shows, redrawn while the devices run.
class Screen {
public:
    Screen(HostOptions::View view, int fd, LiveModel& model, LogCapture* capture, std::string title,
           const std::vector<std::unique_ptr<DeviceRunner>>& runners)
        : view_(view), fd_(fd), model_(model), capture_(capture), title_(std::move(title)), runners_(runners) {
        if (view_ == HostOptions::View::live) writeAll(fd_, "\x1b[?25l\x1b[2J");
    }

    void tick() {
        auto now = std::chrono::steady_clock::now();
        std::vector<DeviceLine> lines = deviceLines(now);
        bool changed = false;
        std::vector<LiveModel::Entry> entries = model_.entries(changed);
        if (view_ == HostOptions::View::plain) {
            // A plain stream gets a block only when something changed, at most once a second.
            if (!changed && !pendingPlain_) return;
            pendingPlain_ = true;
            if (now - lastPlain_ < std::chrono::seconds(1)) return;
            lastPlain_ = now;
            pendingPlain_ = false;
        } else if (view_ != HostOptions::View::live) {
            return;
        }
        draw(lines, entries);
    }

    void finish() {
        bool changed = false;
        std::vector<LiveModel::Entry> entries = model_.entries(changed);
        if (view_ == HostOptions::View::live || (view_ == HostOptions::View::plain && (changed || pendingPlain_)))
            draw(deviceLines(std::chrono::steady_clock::now()), entries);
        if (view_ == HostOptions::View::live) writeAll(fd_, "\x1b[?25h");
    }

private:
    std::vector<DeviceLine> deviceLines(std::chrono::steady_clock::time_point now) {
        std::vector<DeviceLine> lines;
        for (const auto& r : runners_) {
            const DeviceStats& s = r->stats();
            DeviceLine d;
            d.name = r->name();
            d.port = r->port();
            d.state = stateName(s.state.load());
            d.records = s.records.load();
            d.bytes = s.bytes.load();
            d.changes = s.changes.load();
            d.errors = s.errors.load();
            d.reconnects = s.reconnects.load();
            d.lastChangeUs = s.lastChangeUs.load();
            d.recordsPerSecond = rates_[r->name()].update(d.records, now);
            lines.push_back(d);
        }
        return lines;
    }

    void draw(const std::vector<DeviceLine>& devices, const std::vector<LiveModel::Entry>& entries) {
        ScreenFrame frame;
        frame.title = title_;
        frame.devices = devices;
        frame.entries = entries;
        if (capture_ != nullptr) frame.log = capture_->latest();
        std::string text = screenText(renderFrame(frame), view_ == HostOptions::View::live);
        if (view_ == HostOptions::View::plain) {
            std::cout.flush();
            std::fwrite(text.data(), 1, text.size(), stdout);
            std::fflush(stdout);
        } else {
            writeAll(fd_, text);
        }
    }

    HostOptions::View view_;
    int fd_;
    LiveModel& model_;
    LogCapture* capture_;
    std::string title_;
    const std::vector<std::unique_ptr<DeviceRunner>>& runners_;
    std::map<std::string, RateMeter> rates_;
    std::chrono::steady_clock::time_point lastPlain_{};
    bool pendingPlain_ = false;
};

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

bool loadConfig(const HostOptions& options, ChildProgram& sim, HostConfig& config, std::string& error) {
    if (!options.config.empty()) return readConfigFile(options.config, config, error);
    std::string port = options.port;
    if (port.empty()) {
        std::string program = options.sim.empty() ? builtInSimPath() : options.sim;
        if (!sim.start(program, {"--demo", "--quiet", "--stay"}, error)) {
            error = "starting the simulator: " + error;
            return false;
        }
        port = sim.port(std::chrono::seconds(10));
        if (port.empty()) {
            error = "the simulator " + program + " named no line";
            return false;
        }
    }
    std::istringstream text(builtInConfig(port));
    return readConfig(text, "<built-in>", config, error);
}

}  // namespace

int runHost(const HostOptions& options) {
    // Stop signals are taken by the main thread alone, so the device threads
    // never see them and the flag is cleared in one place. Blocked from the
    // start: a signal while the demo's simulator starts waits for the loop.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    ChildProgram sim;
    HostConfig config;
    std::string error;
    if (!loadConfig(options, sim, config, error)) {
        std::fprintf(stderr, "quorlix-host: %s\n", error.c_str());
        return 2;
    }
    if (options.debugLevel >= 0) config.logger.debugLevel = options.debugLevel;

    // Every library loads before anything starts.
    std::string builtIn = options.plugin.empty() ? builtInPluginPath() : options.plugin;
    std::map<std::string, std::unique_ptr<PluginLibrary>> libraries;
    for (const DeviceConfig& d : config.devices) {
        std::string path = resolveLibrary(d.library, config.fileName, builtIn);
        if (libraries.count(path)) continue;
        std::unique_ptr<PluginLibrary> library(new PluginLibrary());
        if (!library->load(path, error)) {
            std::fprintf(stderr, "quorlix-host: %s:%u: cannot load %s: %s\n", config.fileName.c_str(), d.line,
                         d.library.c_str(), error.c_str());
            return 2;
        }
        libraries[path] = std::move(library);
    }

    std::unique_ptr<SharedStorages> storages = SharedStorages::create(options.shm, config.logger, error,
                                                                      options.shmGroup.empty() ? config.shmGroup : options.shmGroup);
    if (!storages) {
        std::fprintf(stderr, "quorlix-host: %s\n", error.c_str());
        return 1;
    }

    // Where things go: JSON owns standard output (the devices' log moves to
    // standard error); a live view owns the terminal (logs show inside it).
    HostOptions::View view = options.view;
    if (view == HostOptions::View::automatic) view = isatty(STDOUT_FILENO) ? HostOptions::View::live : HostOptions::View::plain;
    int jsonFd = -1;
    if (view == HostOptions::View::json) {
        std::cout.flush();
        jsonFd = dup(STDOUT_FILENO);
        dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    std::unique_ptr<ChangeListener> listener;
    LiveModel model;
    ChangeListener* target = &model;
    if (view == HostOptions::View::json) {
        listener.reset(new JsonFeed(jsonFd));
        target = listener.get();
    } else if (view == HostOptions::View::none) {
        listener.reset(new NoListener());
        target = listener.get();
    }
    std::unique_ptr<LogCapture> capture;
    int screenFd = STDOUT_FILENO;
    if (view == HostOptions::View::live) {
        capture.reset(new LogCapture(8));
        if (!capture->start(screenFd)) {
            capture.reset();
            view = HostOptions::View::plain;
        }
    }


    std::int32_t runFlag = 1;
    std::vector<std::unique_ptr<DeviceRunner>> runners;
    int status = 0;
    for (const DeviceConfig& d : config.devices) {
        PluginLibrary& library = *libraries[resolveLibrary(d.library, config.fileName, builtIn)];
        runners.emplace_back(new DeviceRunner(d, library, *storages, config.logger, *target, &runFlag));
    }
    // One after another, so each device finds the entries of those before it.
    for (auto& r : runners) {
        if (!r->connect() && !options.keepGoing) {
            status = 1;
            break;
        }
    }
    std::string title = std::string("quorlix-host ") + QUORLIX_VERSION + "   " + std::to_string(runners.size()) +
                        (runners.size() == 1 ? " device" : " devices") + "   storages " +
                        (storages->shmName().empty() ? "private" : "in " + storages->shmName()) +
                        "   Ctrl-C stops";
    Screen screen(view, screenFd, model, capture.get(), title, runners);
    if (status == 0) {
        for (auto& r : runners) r->start();
        auto started = std::chrono::steady_clock::now();
        for (;;) {
            timespec wait{0, 100 * 1000 * 1000};
            int signal = sigtimedwait(&stopSignals, nullptr, &wait);
            if (signal == SIGINT || signal == SIGTERM) break;
            if (options.duration > 0 &&
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() >= options.duration)
                break;
            if (options.config.empty() && options.port.empty() && sim.finished()) break;
            screen.tick();
        }
        __atomic_store_n(&runFlag, 0, __ATOMIC_RELAXED);
        for (auto& r : runners) r->join();
    } else {
        __atomic_store_n(&runFlag, 0, __ATOMIC_RELAXED);
    }
    std::cout.flush();
    if (status == 0) screen.finish();
    std::string line = "quorlix-host: " + summary(runners) + "\n";
    runners.clear();
    sim.terminate();
    if (capture) capture->stop();
    storages.reset();
    if (status == 0) writeAll(view == HostOptions::View::json ? STDERR_FILENO : STDOUT_FILENO, line);
    else hostMessage("a device could not be started; nothing runs (--keep-going runs the others)");
    if (jsonFd >= 0) ::close(jsonFd);
    return status;
}

}  // namespace host
