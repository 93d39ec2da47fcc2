#include "OscRig.h"

#include "storage/ByteOrder.h"
#include "storage/ConData.h"
#include "storage/TraData.h"

#include <chrono>
#include <cstring>

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

quorlix_con_data controllerRecord(std::initializer_list<int> pressed, float v1, float v2, int usec) {
    ConData con;
    std::memset(&con, 0, sizeof con);
    con.reset();
    con.number = hostToNet(1);
    con.timeSec = hostToNetSigned(1700000000);
    con.timeUsec = hostToNetSigned(usec);
    con.valuatorCount = hostToNet(2);
    con.buttonCount = hostToNet(11);
    con.storeValuator(1, v1);
    con.storeValuator(2, v2);
    for (int b : pressed) con.setButton(static_cast<std::uint32_t>(b), 1);
    quorlix_con_data out;
    std::memcpy(&out, &con, sizeof out);
    return out;
}

quorlix_tra_data trackerRecord(float x, float azim, int usec) {
    TraData tra;
    std::memset(&tra, 0, sizeof tra);
    tra.setNumber(1);
    tra.setTime(1700000000, usec);
    tra.setX(x);
    tra.setAzim(azim);
    quorlix_tra_data out;
    std::memcpy(&out, &tra, sizeof out);
    return out;
}

namespace {

host::LoggerSettings quiet() {
    host::LoggerSettings settings;
    settings.showDate = settings.showTime = settings.showThreadId = false;
    return settings;
}

template <typename Record>
void put(quorlix_shm_storage& storage, Record* records, std::uint32_t entry, const Record& record) {
    quorlix_shm_lock(&storage.lock.mutex);
    records[entry - 1] = record;
    std::strcpy(storage.owner[entry - 1], "wand");
    if (storage.count < entry) storage.count = entry;
    ++storage.changes[entry - 1];
    quorlix_shm_unlock(&storage.lock.mutex);
}

}  // namespace

OscMaster::OscMaster(const std::string& shmName, const std::vector<std::string>& urls) : urls_(urls) {
    storages_ = host::SharedStorages::create(shmName, quiet(), error);
    if (storages_) restartPublisher();
}

void OscMaster::restartPublisher() {
    publisher_.reset();
    host::OscSettings settings;
    for (const std::string& url : urls_) settings.receivers.push_back({url});
    publisher_ = host::OscPublisher::create(settings, *storages_, error);
    if (publisher_) publisher_->start();
}

void OscMaster::putController(std::uint32_t entry, const quorlix_con_data& record) {
    quorlix_shm& shm = storages_->region();
    put(shm.controllers, shm.con, entry, record);
    host::ChangeEvent event;
    event.kind = host::ChangeEvent::Kind::controller;
    event.device = &device_;
    event.entry = entry;
    event.con = record;
    publisher_->changed(event);
}

void OscMaster::putTracker(std::uint32_t entry, const quorlix_tra_data& record) {
    quorlix_shm& shm = storages_->region();
    put(shm.trackers, shm.tra, entry, record);
    host::ChangeEvent event;
    event.kind = host::ChangeEvent::Kind::tracker;
    event.device = &device_;
    event.entry = entry;
    event.tra = record;
    publisher_->changed(event);
}

MirrorThread::MirrorThread(const std::string& shmName, const std::string& listen, const std::string& from) {
    storages_ = host::SharedStorages::create(shmName, quiet(), error);
    if (!storages_) return;
    mirrored_.reset(new host::MirrorStorages(*storages_));
    mirror_ = host::OscMirror::create(listen, from, *mirrored_, [](const std::string&) {}, error);
    if (mirror_) thread_ = std::thread([this] {
            while (!stop_.load()) mirror_->poll(20);
        });
}

MirrorThread::~MirrorThread() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
}

bool eventually(const std::function<bool()>& done, int limitMs) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}
