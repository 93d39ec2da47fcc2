#include "Outputs.h"

#include "HostLog.h"
#include "VisibleText.h"
#include "WriteAll.h"

#include <cerrno>
#include <cstring>
#include <iostream>

#include <fcntl.h>

#ifndef QUORLIX_VERSION
#define QUORLIX_VERSION "unknown"
#endif

namespace host {

namespace {

// For views that need no record: the devices still run.
class NoListener : public ChangeListener {
public:
    void changed(const ChangeEvent&) override {}
};

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

}  // namespace

Outputs::~Outputs() {
    if (view_ != HostOptions::View::live && dataFd_ >= 0 && dataFd_ != STDOUT_FILENO) ::close(dataFd_);
    if (logFile_ >= 0) ::close(logFile_);
}

bool Outputs::prepare(const HostOptions& options, const HostConfig& config, SharedStorages& storages) {
    std::string error;
    publisher_ = makeOscPublisher(options, config, storages, error);
    if (!publisher_ && !error.empty()) {
        hostMessage(error);
        return false;
    }
    oscTrouble_.reset(new OscTrouble(publisher_.get()));
    if (options.log.empty()) return true;
    logFile_ = ::open(options.log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (logFile_ >= 0) return true;
    hostMessage("--log: " + options.log + ": " + std::strerror(errno));
    return false;
}

// The log inside a live view; without one, on standard error, with a copy of
// standard output kept for the data.
void Outputs::routeLog(const HostConfig& config) {
    if (view_ == HostOptions::View::live) {
        std::vector<std::string> devices;
        for (const DeviceConfig& d : config.devices) devices.push_back(d.name);
        capture_.reset(new LogCapture(200, devices));
        capture_->keepIn(logFile_);
        if (capture_->start(dataFd_)) return;
        capture_.reset();
        view_ = HostOptions::View::plain;
    }
    std::cout.flush();
    dataFd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    dup2(STDERR_FILENO, STDOUT_FILENO);
    if (logFile_ < 0) return;
    capture_.reset(new LogCapture(0));
    capture_->keepIn(logFile_);
    capture_->passOn();
    int unused = -1;
    if (!capture_->start(unused)) capture_.reset();
}

void Outputs::route(HostOptions::View requested, const HostConfig& config) {
    view_ = requested;
    if (view_ == HostOptions::View::automatic)
        view_ = isatty(STDOUT_FILENO) ? HostOptions::View::live : HostOptions::View::plain;
    routeLog(config);
    if (view_ == HostOptions::View::json) {
        json_ = new JsonFeed(dataFd_);
        listener_.reset(json_);
        target_ = listener_.get();
    } else if (view_ == HostOptions::View::none) {
        listener_.reset(new NoListener());
        target_ = listener_.get();
    }
    // The network first, from a thread of its own: handing a change over
    // costs less than showing it.
    if (publisher_) {
        bus_.add(*publisher_);
        publisher_->start();
    }
    bus_.add(*target_);
}

void Outputs::show(const DeviceSet& devices, const SharedStorages& storages) {
    screen_.reset(new Screen(view_, dataFd_, model_, capture_.get(),
                             screenTitle(devices.runners().size(), storages, publisher_.get()), devices.runners()));
}

std::chrono::milliseconds Outputs::period() const {
    return std::chrono::milliseconds(view_ == HostOptions::View::live ? 100 : 1000);
}

int Outputs::failure() const {
    return json_ != nullptr ? json_->failure() : screen_->failure();
}

void Outputs::refresh(std::vector<std::string> warnings, std::chrono::steady_clock::time_point now) {
    const bool logged = view_ != HostOptions::View::live && view_ != HostOptions::View::plain;
    for (std::string& line : oscTrouble_->lines(logged, now)) warnings.push_back(std::move(line));
    screen_->setWarnings(std::move(warnings));
    screen_->tick();
}

std::string Outputs::stopPublisher() {
    if (!publisher_) return "";
    publisher_->stop();
    return publisher_->status();
}

void Outputs::stopLog() {
    if (capture_) capture_->stop();
}

void Outputs::sayLast(const std::string& line) {
    writeAll(view_ == HostOptions::View::json   ? STDERR_FILENO
             : view_ == HostOptions::View::live ? STDOUT_FILENO
                                                : dataFd_,
             line);
}

void Outputs::replayLog() {
    if (view_ == HostOptions::View::live)
        for (const std::string& l : capture_->latest()) writeAll(STDERR_FILENO, visibleText(l) + "\n");
}

}  // namespace host
