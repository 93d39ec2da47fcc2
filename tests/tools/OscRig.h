#pragma once

// A publishing host's storages and a mirror, in this process, on real UDP
// sockets through liblo.
#include "MirrorStorages.h"
#include "OscMirror.h"
#include "OscPublisher.h"
#include "SharedStorages.h"

#include <atomic>
#include <initializer_list>
#include <memory>
#include <string>
#include <thread>

// A UDP port nobody uses now.
int freeUdpPort();
std::string udpUrl(int port);

quorlix_con_data controllerRecord(std::initializer_list<int> pressed, float v1, float v2, int usec);
quorlix_tra_data trackerRecord(float x, float azim, int usec);

// The master: records are put into its storages as a device puts them, then
// handed to its publisher.
class OscMaster {
public:
    OscMaster(const std::string& shmName, const std::vector<std::string>& urls);
    void putController(std::uint32_t entry, const quorlix_con_data& record);
    void putTracker(std::uint32_t entry, const quorlix_tra_data& record);
    host::OscPublisher& publisher() { return *publisher_; }
    // A new publisher on the same storages (a host started again).
    void restartPublisher();
    std::string error;

private:
    std::string device_ = "wand";
    std::vector<std::string> urls_;
    std::unique_ptr<host::SharedStorages> storages_;
    std::unique_ptr<host::OscPublisher> publisher_;
};

// A mirror receiving on its own thread.
class MirrorThread {
public:
    MirrorThread(const std::string& shmName, const std::string& listen, const std::string& from = "");
    ~MirrorThread();
    const host::OscMirror& mirror() const { return *mirror_; }
    quorlix_shm& region() { return storages_->region(); }
    std::string error;

private:
    std::unique_ptr<host::SharedStorages> storages_;
    std::unique_ptr<host::MirrorStorages> mirrored_;
    std::unique_ptr<host::OscMirror> mirror_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Polls `done` every 10 ms for up to `limitMs`.
bool eventually(const std::function<bool()>& done, int limitMs);
