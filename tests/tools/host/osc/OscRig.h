#pragma once

// What the OSC tests share: free ports, and a mirror in this process that
// receives on its own thread.
#include "Eventually.h"
#include "MirrorStorages.h"
#include "OscMirror.h"
#include "SharedStorages.h"

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>

// A UDP port nobody uses now.
int freeUdpPort();
std::string udpUrl(int port);

class MirrorThread {
public:
    MirrorThread(const std::string& shmName, const std::string& listen, const std::string& from = "");
    ~MirrorThread();
    const host::OscMirror& mirror() const { return *mirror_; }
    const quorlix_shm& region() { return storages_->view().shm(); }
    std::string error;

private:
    std::unique_ptr<host::SharedStorages> storages_;
    std::unique_ptr<host::MirrorStorages> mirrored_;
    std::unique_ptr<host::OscMirror> mirror_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
