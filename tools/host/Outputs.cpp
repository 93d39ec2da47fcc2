#include "Outputs.h"

#include "HostLog.h"
#include "VisibleText.h"
#include "FrameWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <iostream>

#include <fcntl.h>

#ifndef QUORLIX_VERSION
#define QUORLIX_VERSION "unknown"
#endif

namespace host {

namespace {

// Writes `text` to `fd` until `deadline`, then gives up; a moment at least,
// so that a stalled output before it costs a healthy one nothing.
void writeWithin(int fd, const std::string& text, Outputs::Deadline deadline) {
    deadline = std::max(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(100));
    std::unique_ptr<FrameWriter> writer(new FrameWriter(fd, false));
    writer->put(text);
    if (!writer->stop(deadline)) writer.release();  // still blocked: left, with what it uses
}

}  // namespace

std::string Outputs::title() const {
    std::string osc;
    if (publisher_ != nullptr) {
        const std::size_t n = publisher_->targets().size();
        osc = "   OSC to " + std::to_string(n) + (n == 1 ? " receiver" : " receivers");
    }
    std::string vrpn;
    if (vrpn_ != nullptr) {
        const std::size_t n = vrpn_->clients();
        vrpn = "   VRPN " + std::to_string(n) + (n == 1 ? " client" : " clients");
    }
    return std::string("quorlix-host ") + QUORLIX_VERSION + "   " + std::to_string(devices_) +
           (devices_ == 1 ? " device" : " devices") + "   storages " +
           (shmName_.empty() ? "private" : "in " + shmName_) + osc + vrpn + "   Ctrl-C stops";
}

template <typename Output>
void Outputs::stopOrLeave(std::unique_ptr<Output>& output, Deadline deadline) {
    if (output && !output->stop(deadline)) output.release();
}

Outputs::~Outputs() {
    const Deadline now = std::chrono::steady_clock::now();
    stopOrLeave(json_, now);
    stopOrLeave(model_, now);
    stopOrLeave(publisher_, now);
    stopOrLeave(vrpn_, now);
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
    const VrpnAddress& vrpn = options.vrpn.on ? options.vrpn : config.vrpn;
    if (vrpn.on) {
        std::vector<std::string> names;
        for (const DeviceConfig& d : config.devices) names.push_back(d.name);
        vrpn_ = VrpnServer::create(vrpn, names, storages.view(), hostMessage, error);
        if (!vrpn_) {
            hostMessage(error);
            return false;
        }
        vrpn_->runRealtime(options.realtime >= 0 ? options.realtime : config.realtime);
    }
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
    // The log passes through a capture here too, so that a standard error
    // nobody reads never holds up a device.
    std::cout.flush();
    dataFd_ = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    capture_.reset(new LogCapture(0));
    capture_->keepIn(logFile_);
    capture_->passOn();
    int unused = -1;
    if (capture_->start(unused)) return;
    capture_.reset();
    dup2(STDERR_FILENO, STDOUT_FILENO);
}

void Outputs::route(HostOptions::View requested, const HostConfig& config) {
    view_ = requested;
    if (view_ == HostOptions::View::automatic)
        view_ = isatty(STDOUT_FILENO) ? HostOptions::View::live : HostOptions::View::plain;
    routeLog(config);
    // Each output drains a queue of its own on its own thread: handing a
    // change over is all a device does for it.
    if (publisher_) {
        bus_.add(*publisher_);
        publisher_->start();
    }
    if (vrpn_) {
        bus_.add(*vrpn_);
        vrpn_->start();
    }
    if (view_ == HostOptions::View::json) {
        json_.reset(new JsonFeed(dataFd_));
        bus_.add(*json_);
        json_->start();
    } else if (view_ != HostOptions::View::none) {
        bus_.add(*model_);
        model_->start();
    }
}

void Outputs::show(const DeviceSet& devices, const SharedStorages& storages) {
    devices_ = devices.runners().size();
    shmName_ = storages.shmName();
    screen_.reset(new Screen(view_, dataFd_, *model_, capture_.get(), title(), devices.runners()));
}

std::chrono::milliseconds Outputs::period() const {
    return std::chrono::milliseconds(view_ == HostOptions::View::live ? 100 : 1000);
}

int Outputs::failure() const {
    return json_ != nullptr ? json_->failure() : screen_->failure();
}

void Outputs::refresh(std::chrono::steady_clock::time_point now) {
    const bool logged = view_ != HostOptions::View::live && view_ != HostOptions::View::plain;
    std::vector<std::string> warnings = oscTrouble_->lines(logged, now);
    if (capture_ && capture_->droppedLines() > 0)
        warnings.push_back(std::to_string(capture_->droppedLines()) +
                           " log lines dropped: standard error or the log file takes them too slowly");
    screen_->setWarnings(std::move(warnings));
    screen_->setTitle(title());
    screen_->tick();
}

void Outputs::endView(Deadline deadline) {
    if (screen_ && !screen_->stopWriting(deadline)) screen_.release();
    screen_.reset();
    stopOrLeave(model_, deadline);
    stopOrLeave(json_, deadline);
}

template <typename Output>
std::string Outputs::stopWithStatus(std::unique_ptr<Output>& output, Deadline deadline) {
    if (!output) return "";
    const bool ended = output->stop(deadline);
    const std::string status = output->status();
    if (!ended) output.release();
    return status;
}

std::string Outputs::stopPublisher(Deadline deadline) { return stopWithStatus(publisher_, deadline); }

std::string Outputs::stopVrpn(Deadline deadline) { return stopWithStatus(vrpn_, deadline); }

void Outputs::stopLog(Deadline deadline) {
    if (!capture_) return;
    const std::uint64_t dropped = capture_->droppedLines();
    if (!capture_->stop(deadline)) capture_.release();  // a write that cannot end: left, with what it uses
    if (dropped > 0)
        writeWithin(STDERR_FILENO,
                    "quorlix-host: " + std::to_string(dropped) +
                        " log lines were dropped: standard error or the log file took them too slowly\n",
                    deadline);
}

void Outputs::sayLast(const std::string& line, Deadline deadline) {
    std::string text = line;
    const std::uint64_t lost = json_ ? json_->dropped() + json_->unwritten() : 0;
    if (lost > 0) text += "quorlix-host: JSON: " + std::to_string(lost) + " records dropped: the reader was too slow\n";
    writeWithin(view_ == HostOptions::View::json   ? STDERR_FILENO
                : view_ == HostOptions::View::live ? STDOUT_FILENO
                                                   : dataFd_,
                text, deadline);
}

void Outputs::replayLog(Deadline deadline) {
    if (view_ != HostOptions::View::live) return;
    std::string text;
    for (const std::string& l : capture_->latest()) text += visibleText(l) + "\n";
    writeWithin(STDERR_FILENO, text, deadline);
}

}  // namespace host
