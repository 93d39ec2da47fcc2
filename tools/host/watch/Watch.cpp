#include "Watch.h"

#include "LockHolder.h"
#include "ProcessInfo.h"
#include "RecordJson.h"
#include "SharedStorages.h"
#include "VisibleText.h"
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
    std::uint32_t lost = 0;
    std::uint32_t changes[QUORLIX_SHM_ENTRIES] = {};
    char owner[QUORLIX_SHM_ENTRIES][QUORLIX_SHM_OWNER_SIZE] = {};
    bool running = true;
    bool stale = false;  // a mirror whose sender is silent
};

// False when the storage's lock was not free within the bound.
bool look(quorlix_shm& shm, quorlix_shm_storage& storage, Seen& seen, void* records, const void* source,
          std::size_t recordSize) {
    if (quorlix_shm_lock(&storage.lock.mutex) != 0) return false;
    seen.count = storage.count < QUORLIX_SHM_ENTRIES ? storage.count : QUORLIX_SHM_ENTRIES;
    seen.lost = storage.lost;
    std::memcpy(seen.changes, storage.changes, sizeof seen.changes);
    std::memcpy(seen.owner, storage.owner, sizeof seen.owner);
    std::memcpy(records, source, recordSize * QUORLIX_SHM_ENTRIES);
    seen.running = shm.running != 0;
    seen.stale = shm.stale != 0;
    quorlix_shm_unlock(&storage.lock.mutex);
    return true;
}

void reportBusy(const char* kind, const quorlix_shm_storage& storage) {
    pid_t holder = processOfThread(lockOwnerThread(storage.lock.mutex));
    std::fprintf(stderr, "quorlix-host watch: the %s lock was not free within %d ms%s\n", kind,
                 QUORLIX_SHM_LOCK_TIMEOUT_MS, holder > 0 ? (" (held by " + describeProcess(holder) + ")").c_str() : "");
}

std::string ownerOf(const Seen& seen, std::uint32_t n) {
    return std::string(seen.owner[n - 1], strnlen(seen.owner[n - 1], QUORLIX_SHM_OWNER_SIZE));
}

std::string plainController(const std::string& device, std::uint32_t n, const quorlix_con_data& con, bool lost) {
    std::string text = "controller " + std::to_string(n) + " " + visibleText(device) + "  buttons";
    std::uint32_t buttons = quorlix_net_u32(con.button_count);
    for (std::uint32_t b = 1; b <= buttons && b <= 32; ++b)
        text += " " + (quorlix_con_button(&con, b) ? std::to_string(b) : std::string("."));
    text += "  valuators";
    std::uint32_t valuators = quorlix_net_u32(con.valuator_count);
    for (std::uint32_t v = 1; v <= valuators && v <= 32; ++v) {
        std::int32_t stored = quorlix_net_i32(con.valuators[v - 1]);
        text += std::string(" ") + (stored >= 0 ? "+" : "") + fixedDecimal(stored, 3);
    }
    return lost ? text + "  line lost" : text;
}

std::string plainTracker(const std::string& device, std::uint32_t n, const quorlix_tra_data& tra) {
    std::string text = "tracker " + std::to_string(n) + " " + visibleText(device) + " ";
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
    char why[512];
    uid_t owner = options.ownerGiven ? static_cast<uid_t>(options.owner) : getuid();
    quorlix_shm* shm = quorlix_shm_attach(name.c_str(), owner, why, sizeof why);
    if (shm == nullptr) {
        std::fprintf(stderr, "quorlix-host watch: %s%s\n", why,
                     errno == ENOENT ? (" (is quorlix-host running with --shm " + options.shm + "?)").c_str() : "");
        return 1;
    }
    const pid_t hostPid = shm->host_pid;
    const std::uint64_t hostStart = static_cast<std::uint64_t>(shm->host_start_high) << 32 | shm->host_start_low;
    auto hostGone = [&] {
        if (processIsAlive(hostPid, hostStart)) return false;
        std::fprintf(stderr, "quorlix-host watch: the host (pid %d) is gone without stopping; %s\n",
                     static_cast<int>(hostPid),
                     options.once ? "these were its last records" : "its last records stay as shown");
        return true;
    };

    Seen lastCon, lastTra;
    bool first = true;
    quorlix_con_data con[QUORLIX_SHM_ENTRIES];
    quorlix_tra_data tra[QUORLIX_SHM_ENTRIES];
    int status = 0;
    bool conBusy = false, traBusy = false;
    const auto started = std::chrono::steady_clock::now();
    while (!stop.load()) {
        Seen seenCon = lastCon, seenTra = lastTra;
        bool conSeen = look(*shm, shm->controllers, seenCon, con, shm->con, sizeof(quorlix_con_data));
        bool traSeen = look(*shm, shm->trackers, seenTra, tra, shm->tra, sizeof(quorlix_tra_data));
        // Reported once each time a lock stays taken for longer than the bound.
        if (!conSeen && !conBusy) reportBusy("controllers", shm->controllers);
        if (!traSeen && !traBusy) reportBusy("trackers", shm->trackers);
        conBusy = !conSeen;
        traBusy = !traSeen;
        if (options.once && (!conSeen || !traSeen)) {
            status = 1;
            break;
        }
        for (std::uint32_t n = 1; n <= seenCon.count; ++n) {
            if (!first && seenCon.changes[n - 1] == lastCon.changes[n - 1]) continue;
            if (seenCon.changes[n - 1] == 0 && !options.once) continue;
            std::string owner = ownerOf(seenCon, n);
            bool lost = (seenCon.lost >> (n - 1)) & 1u;
            say(options.json ? controllerJson(owner, n, con[n - 1], lost) : plainController(owner, n, con[n - 1], lost));
        }
        for (std::uint32_t n = 1; n <= seenTra.count; ++n) {
            if (!first && seenTra.changes[n - 1] == lastTra.changes[n - 1]) continue;
            if (seenTra.changes[n - 1] == 0 && !options.once) continue;
            std::string owner = ownerOf(seenTra, n);
            say(options.json ? trackerJson(owner, n, tra[n - 1]) : plainTracker(owner, n, tra[n - 1]));
        }
        // Only a render node's mirror goes stale: said when it starts and ends.
        if (conSeen && (first ? seenCon.stale : seenCon.stale != lastCon.stale)) {
            std::fputs(seenCon.stale ? "quorlix-host watch: stale: the mirror hears nothing from its sender; "
                                       "these records may be old\n"
                                     : "quorlix-host watch: the mirror is current again\n",
                       stderr);
        }
        lastCon = seenCon;
        lastTra = seenTra;
        first = false;
        bool stopped = !seenCon.running || !seenTra.running;
        if (!stopped && hostGone()) {
            status = 1;
            break;
        }
        if (options.once) break;
        if (stopped) {
            std::fprintf(stderr, "quorlix-host watch: the host has stopped\n");
            break;
        }
        if (options.duration > 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() >= options.duration)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
    }
    quorlix_shm_detach(shm);
    return status;
}

}  // namespace host
