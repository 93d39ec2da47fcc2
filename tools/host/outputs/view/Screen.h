// outputs/view/: the terminal view: the devices, their entries and the log, live or as plain text.
#pragma once

#include "ChangeEvent.h"
#include "DeviceStats.h"
#include "FrameWriter.h"
#include "HostOptions.h"
#include "LiveModel.h"
#include "RateMeter.h"
#include "ScreenView.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace host {

class DeviceRunner;
class LogCapture;

// The view the terminal shows, redrawn while the devices run.
class Screen {
public:
    Screen(HostOptions::View view, int fd, LiveModel& model, LogCapture* capture, std::string title,
           const std::vector<std::unique_ptr<DeviceRunner>>& runners);

    // A redraw as the view wants one: a live view each time, a plain stream
    // when something changed, at most once a second.
    void tick();
    // The last frame, and the terminal's cursor back.
    void finish();
    // Writes what is pending until `deadline` (see FrameWriter::stop).
    bool stopWriting(std::chrono::steady_clock::time_point deadline) { return writer_.stop(deadline); }
    // The terminal's size again (after SIGWINCH), and a redraw.
    void resize();
    // Lines about trouble the devices cannot report themselves.
    void setWarnings(std::vector<std::string> warnings);
    // The top line, when what it counts changed.
    void setTitle(std::string title);
    // The errno of a failed write of the plain view (EPIPE: nobody reads it), or 0.
    int failure() const { return view_ == HostOptions::View::plain ? writer_.failure() : 0; }

private:
    std::vector<DeviceLine> deviceLines(std::chrono::steady_clock::time_point now);
    void draw(const std::vector<DeviceLine>& devices, const std::vector<LiveModel::Entry>& entries);

    HostOptions::View view_;
    int fd_;
    LiveModel& model_;
    LogCapture* capture_;
    std::string title_;
    const std::vector<std::unique_ptr<DeviceRunner>>& runners_;
    std::map<std::string, RateMeter> rates_;
    std::chrono::steady_clock::time_point lastPlain_{};
    bool pendingPlain_ = false;
    bool filled_ = false;  // the last frame took every row: the cursor is on the last one
    std::vector<std::string> warnings_;
    bool warningsChanged_ = false;
    int width_ = 0;
    int height_ = 0;
    FrameWriter writer_;
};

// What the view says of a device's state: "reconnecting (try 3, next in 2 s)",
// and beside a failed or reconnecting state the device's own last error.
std::string stateLabel(const DeviceStats& stats, std::chrono::steady_clock::time_point now,
                       const std::string& lastError);

}  // namespace host
