#include "OscRig.h"

#include <chrono>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int freeUdpPort() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = 0;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    close(fd);
    return port;
}

std::string udpUrl(int port) { return "osc.udp://127.0.0.1:" + std::to_string(port) + "/"; }

namespace {

host::LoggerSettings quiet() {
    host::LoggerSettings settings;
    settings.showDate = settings.showTime = settings.showThreadId = false;
    return settings;
}

}  // namespace

MirrorThread::MirrorThread(const std::string& shmName, const std::string& listen, const std::string& from) {
    storages_ = host::SharedStorages::create(shmName, quiet(), error);
    if (!storages_) return;
    mirrored_.reset(new host::MirrorStorages(*storages_));
    mirror_ = host::OscMirror::create(listen, from, *mirrored_, [](const std::string&) {}, error);
    if (mirror_) thread_ = std::thread([this] {
            while (!stop_.load()) {
                mirror_->poll(20);
                storages_->view().renewHeartbeat();
            }
        });
}

MirrorThread::~MirrorThread() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}

