// quorlix-host: the spine of a run, and the one place where outputs join the change bus.
#pragma once

#include "ChangeEvent.h"
#include "ChangeFanOut.h"
#include "DeviceSet.h"
#include "HostConfig.h"
#include "HostOptions.h"
#include "JsonFeed.h"
#include "LiveModel.h"
#include "LogCapture.h"
#include "OscPublisher.h"
#include "OscTrouble.h"
#include "Screen.h"
#include "SharedStorages.h"
#include "VrpnServer.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

namespace host {

// Where a run's changes and text go. Standard output carries the view's data
// alone (JSON lines, plain text, the summary); the devices' log and the
// host's messages go to standard error, next to each other, in every mode. A
// live view owns the terminal and shows the log inside; --log gets every
// byte either way. Every output listens on the one change bus, and a new
// output plugs in here, in route().
class Outputs {
public:
    using Deadline = std::chrono::steady_clock::time_point;

    Outputs() = default;
    ~Outputs();
    Outputs(const Outputs&) = delete;
    Outputs& operator=(const Outputs&) = delete;

    // What can fail before anything starts: the OSC receivers, the --log
    // file. False (reported) then.
    bool prepare(const HostOptions& options, const HostConfig& config, SharedStorages& storages);
    // The view (automatic: live on a terminal, else plain), the log's way,
    // and the bus; the network's sender starts.
    void route(HostOptions::View requested, const HostConfig& config);
    ChangeListener& bus() { return bus_; }
    // The view of the devices, drawn from now on.
    void show(const DeviceSet& devices, const SharedStorages& storages);

    HostOptions::View view() const { return view_; }
    // How often the view wants a look: ten times a second for a live view,
    // else once a second.
    std::chrono::milliseconds period() const;
    // The errno of a failed write of the data (EPIPE: nobody reads it), or 0.
    int failure() const;
    void resize() { screen_->resize(); }
    // A redraw, with the network's and the log's trouble under the title.
    void refresh(std::chrono::steady_clock::time_point now);

    // The last frame, and the terminal's cursor back.
    void finishView() { screen_->finish(); }
    // The view goes, before the devices it shows. Here and below, what is
    // still queued is written until `deadline`, then given up: whatever a
    // reader does, the host ends in time.
    void endView(Deadline deadline);
    // Sends what is queued; the sender's status line, "" without one.
    std::string stopPublisher(Deadline deadline);
    // The same for the VRPN server.
    std::string stopVrpn(Deadline deadline);
    void stopLog(Deadline deadline);
    // The run's last line, where the view's data goes.
    void sayLast(const std::string& line, Deadline deadline);
    // What a live view showed of devices that never started, where the log
    // goes without one.
    void replayLog(Deadline deadline);

private:
    HostOptions::View view_ = HostOptions::View::automatic;
    int dataFd_ = STDOUT_FILENO;  // a copy of standard output, or the terminal
    int logFile_ = -1;            // --log
    std::unique_ptr<LiveModel> model_{new LiveModel()};
    std::unique_ptr<LogCapture> capture_;
    std::unique_ptr<JsonFeed> json_;
    std::unique_ptr<OscPublisher> publisher_;
    std::unique_ptr<OscTrouble> oscTrouble_;
    std::unique_ptr<VrpnServer> vrpn_;
    std::size_t devices_ = 0;
    std::string shmName_;
    ChangeFanOut bus_;
    std::unique_ptr<Screen> screen_;

    void routeLog(const HostConfig& config);
    std::string title() const;
    // Stops an output's thread; one that would not end is left, with its object.
    template <typename Output>
    static void stopOrLeave(std::unique_ptr<Output>& output, Deadline deadline);
    // The same, and the output's status line after; "" without the output.
    template <typename Output>
    static std::string stopWithStatus(std::unique_ptr<Output>& output, Deadline deadline);
};

}  // namespace host
