// outputs/vrpn/: the wand for VRPN clients: buttons, analogs and trackers over VRPN's own protocol.
#pragma once

#include "VrpnReader.h"

#include <chrono>
#include <cstddef>
#include <set>
#include <string>

namespace host {

// One VRPN client's TCP connection: what is still to go to it, bounded, and
// what it said so far. Only the server's thread touches it.
class VrpnClient {
public:
    enum class State {
        calling,  // the server calls back a client that asked over UDP
        waiting,  // for the client's cookie
        ready,    // hears every change
    };

    VrpnClient(int fd, std::string peer, State state, std::chrono::steady_clock::time_point greetBy);
    ~VrpnClient();
    VrpnClient(const VrpnClient&) = delete;
    VrpnClient& operator=(const VrpnClient&) = delete;

    int fd() const { return fd_; }
    const std::string& peer() const { return peer_; }
    State state() const { return state_; }
    void setState(State s) { state_ = s; }
    std::chrono::steady_clock::time_point greetBy() const { return greetBy_; }
    VrpnReader& reader() { return reader_; }

    // Queues `bytes`; false when more than `limit` bytes would then wait for
    // a client with some waiting already: it has stopped reading. (A client
    // that keeps up takes a burst of any size.)
    bool queue(const std::string& bytes, std::size_t limit);
    // Sends what waits, as far as the socket takes it now; false when the
    // connection failed (`error` set).
    bool flush(std::string& error);
    bool waiting() const { return sent_ < out_.size(); }
    std::size_t waitingBytes() const { return out_.size() - sent_; }

    // Once per client and name, for the first `most` names: a name it asked
    // for that the host does not have.
    bool firstAskFor(const std::string& name, std::size_t most) {
        return asked_.size() < most && asked_.insert(name).second;
    }

    // Marks the client for closing, with the line that says why; the first
    // reason stands. `dropped`: the server ended it, not the client.
    void end(const std::string& line, bool dropped) {
        if (!ended()) {
            endLine_ = line;
            dropped_ = dropped;
        }
    }
    bool ended() const { return !endLine_.empty(); }
    const std::string& endLine() const { return endLine_; }
    bool dropped() const { return dropped_; }

private:
    int fd_;
    std::string peer_;
    State state_;
    std::chrono::steady_clock::time_point greetBy_;
    VrpnReader reader_;
    std::string out_;
    std::size_t sent_ = 0;
    std::set<std::string> asked_;
    std::string endLine_;
    bool dropped_ = false;
};

}  // namespace host
