#include "Watch.h"

#include "RecordJson.h"
#include "SharedStorages.h"
#include "quorlix/shm.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

namespace {

// What one look at a storage found, copied out under its lock.
struct Seen {
    std::uint32_t count = 0;
    std::uint32_t changes[QUORLIX_SHM_ENTRIES] = {};
    char owner[QUORLIX_SHM_ENTRIES][QUORLIX_SHM_OWNER_SIZE] = {};
    bool running = true;
};

void look(quorlix_shm& shm, quorlix_shm_storage& storage, Seen& seen, void* records, const void* source,
          std::size_t recordSize) {
    if (quorlix_shm_lock(&storage.lock.mutex) != 0) return;
    seen.count = storage.count < QUORLIX_SHM_ENTRIES ? storage.count : QUORLIX_SHM_ENTRIES;
    std::memcpy(seen.changes, storage.changes, sizeof seen.changes);
    std::memcpy(seen.owner, storage.owner, sizeof seen.owner);
    std::memcpy(records, source, recordSize * QUORLIX_SHM_ENTRIES);
    seen.running = shm.running != 0;
    quorlix_shm_unlock(&storage.lock.mutex);
}

std::string ownerOf(const Seen& seen, std::uint32_t n) {
    return std::string(seen.owner[n - 1], strnlen(seen.owner[n - 1], QUORLIX_SHM_OWNER_SIZE));
}

std::string plainController(const std::string& device, std::uint32_t n, const quorlix_con_data& con) {
    std::string text = "controller " + std::to_string(n) + " " + device + "  buttons";
    std::uint32_t buttons = quorlix_net_u32(con.button_count);
    for (std::uint32_t b = 1; b <= buttons && b <= 32; ++b)
        text += " " + (quorlix_con_button(&con, b) ? std::to_string(b) : std::string("."));
    text += "  valuators";
    std::uint32_t valuators = quorlix_net_u32(con.valuator_count);
    for (std::uint32_t v = 1; v <= valuators && v <= 32; ++v) {
        std::int32_t stored = quorlix_net_i32(con.valuators[v - 1]);
        text += std::string(" ") + (stored >= 0 ? "+" : "") + fixedDecimal(stored, 3);
    }
    return text;
}

std::string plainTracker(const std::string& device, std::uint32_t n, const quorlix_tra_data& tra) {
    std::string text = "tracker " + std::to_string(n) + " " + device + " ";
    const std::pair<const char*, std::int32_t> values[] = {{"x", tra.x},       {"y", tra.y},       {"z", tra.z},
                                                           {"azim", tra.azim}, {"elev", tra.elev}, {"roll", tra.roll}};
    for (const auto& v : values) {
        std::int32_t stored = quorlix_net_i32(v.second);
        text += std::string(" ") + v.first + " " + (stored >= 0 ? "+" : "") + fixedDecimal(stored, 5);
    }
    return text;
}

void say(const std::string& line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
}

}  // namespace

int runWatch(const WatchOptions& options, const std::atomic<bool>& stop) {
    std::string name = shmObjectName(options.shm);
    if (name.empty()) {
        std::fprintf(stderr, "quorlix-host watch: \"%s\" cannot name a shared-memory object\n", options.shm.c_str());
        return 2;
    }
    // Read and write: taking a storage's lock writes to its mutex.
    int fd = shm_open(name.c_str(), O_RDWR | O_CLOEXEC, 0);
    if (fd < 0) {
        std::fprintf(stderr, "quorlix-host watch: %s: %s (is quorlix-host running with --shm %s?)\n", name.c_str(),
                     std::strerror(errno), options.shm.c_str());
        return 1;
    }
    struct stat info {};
    std::size_t size = fstat(fd, &info) == 0 ? static_cast<std::size_t>(info.st_size) : 0;
    void* mapped = size >= sizeof(quorlix_shm)
                       ? mmap(nullptr, sizeof(quorlix_shm), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0)
                       : MAP_FAILED;
    ::close(fd);
    quorlix_shm* shm = mapped != MAP_FAILED ? static_cast<quorlix_shm*>(mapped) : nullptr;
    if (shm == nullptr || !quorlix_shm_valid(shm, size)) {
        std::fprintf(stderr, "quorlix-host watch: %s holds no quorlix-host storages of this version\n", name.c_str());
        if (shm != nullptr) munmap(shm, sizeof(quorlix_shm));
        return 1;
    }

    Seen lastCon, lastTra;
    bool first = true;
    quorlix_con_data con[QUORLIX_SHM_ENTRIES];
    quorlix_tra_data tra[QUORLIX_SHM_ENTRIES];
    int status = 0;
    while (!stop.load()) {
        Seen seenCon, seenTra;
        look(*shm, shm->controllers, seenCon, con, shm->con, sizeof(quorlix_con_data));
        look(*shm, shm->trackers, seenTra, tra, shm->tra, sizeof(quorlix_tra_data));
        for (std::uint32_t n = 1; n <= seenCon.count; ++n) {
            if (!first && seenCon.changes[n - 1] == lastCon.changes[n - 1]) continue;
            if (seenCon.changes[n - 1] == 0 && !options.once) continue;
            std::string owner = ownerOf(seenCon, n);
            say(options.json ? controllerJson(owner, n, con[n - 1]) : plainController(owner, n, con[n - 1]));
        }
        for (std::uint32_t n = 1; n <= seenTra.count; ++n) {
            if (!first && seenTra.changes[n - 1] == lastTra.changes[n - 1]) continue;
            if (seenTra.changes[n - 1] == 0 && !options.once) continue;
            std::string owner = ownerOf(seenTra, n);
            say(options.json ? trackerJson(owner, n, tra[n - 1]) : plainTracker(owner, n, tra[n - 1]));
        }
        lastCon = seenCon;
        lastTra = seenTra;
        first = false;
        if (options.once) break;
        if (!seenCon.running || !seenTra.running) {
            std::fprintf(stderr, "quorlix-host watch: the host has stopped\n");
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
    }
    munmap(shm, sizeof(quorlix_shm));
    return status;
}

}  // namespace host
