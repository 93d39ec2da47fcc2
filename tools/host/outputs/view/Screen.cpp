#include "Screen.h"

#include "DeviceRunner.h"
#include "LogCapture.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <iostream>

#include <sys/ioctl.h>

namespace host {

Screen::Screen(HostOptions::View view, int fd, LiveModel& model, LogCapture* capture, std::string title,
               const std::vector<std::unique_ptr<DeviceRunner>>& runners)
    : view_(view),
      fd_(fd),
      model_(model),
      capture_(capture),
      title_(std::move(title)),
      runners_(runners),
      writer_(fd, view == HostOptions::View::live) {
    if (view_ != HostOptions::View::live) return;
    writer_.put("\x1b[?25l\x1b[2J", true);
    resize();
}

void Screen::resize() {
    winsize size{};
    // Where the terminal does not tell, the size every terminal has had.
    bool known = ioctl(fd_, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0;
    width_ = known ? size.ws_col : 80;
    height_ = known ? size.ws_row : 24;
}

std::string stateLabel(const DeviceStats& stats, std::chrono::steady_clock::time_point now,
                       const std::string& lastError) {
    const int state = stats.state.load();
    std::string label = stateName(state);
    if (state == DeviceStats::reconnecting && stats.reconnectTry.load() > 0) {
        auto next = std::chrono::steady_clock::time_point(std::chrono::nanoseconds(stats.nextTryNs.load()));
        double seconds = std::chrono::duration<double>(next - now).count();
        label += " (try " + std::to_string(stats.reconnectTry.load()) +
                 (seconds > 0 ? ", next in " + std::to_string(static_cast<long>(std::ceil(seconds))) + " s)" : ")");
    }
    if ((state == DeviceStats::reconnecting || state == DeviceStats::failed) && !lastError.empty())
        label += ": " + lastError;
    return label;
}

void Screen::setWarnings(std::vector<std::string> warnings) {
    if (warnings != warnings_) warningsChanged_ = true;
    warnings_ = std::move(warnings);
}

void Screen::setTitle(std::string title) {
    if (title != title_) warningsChanged_ = true;
    title_ = std::move(title);
}

void Screen::tick() {
    auto now = std::chrono::steady_clock::now();
    std::vector<DeviceLine> lines = deviceLines(now);
    bool changed = false;
    std::vector<LiveModel::Entry> entries = model_.entries(changed);
    changed = changed || warningsChanged_;
    warningsChanged_ = false;
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

void Screen::finish() {
    bool changed = false;
    std::vector<LiveModel::Entry> entries = model_.entries(changed);
    if (view_ == HostOptions::View::live || (view_ == HostOptions::View::plain && (changed || pendingPlain_)))
        draw(deviceLines(std::chrono::steady_clock::now()), entries);
    // What follows the view (the summary) starts on a line of its own.
    if (view_ == HostOptions::View::live) writer_.put(filled_ ? "\x1b[?25h\r\n" : "\x1b[?25h", true);
}

std::vector<DeviceLine> Screen::deviceLines(std::chrono::steady_clock::time_point now) {
    std::vector<DeviceLine> lines;
    for (const auto& r : runners_) {
        const DeviceStats& s = r->stats();
        DeviceLine d;
        d.name = r->name();
        d.port = r->port();
        d.state = stateLabel(s, now, capture_ != nullptr ? capture_->lastError(r->name()) : "");
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

void Screen::draw(const std::vector<DeviceLine>& devices, const std::vector<LiveModel::Entry>& entries) {
    ScreenFrame frame;
    frame.title = title_;
    frame.devices = devices;
    frame.entries = entries;
    frame.warnings = warnings_;
    if (capture_ != nullptr) frame.log = capture_->latest();
    frame.width = width_;
    frame.height = height_;
    const std::vector<std::string> lines = renderFrame(frame);
    filled_ = height_ > 0 && lines.size() >= static_cast<std::size_t>(height_);
    writer_.put(screenText(lines, view_ == HostOptions::View::live, height_));
}

}  // namespace host
