#include "Watch.h"

#include "RecordJson.h"
#include "ShmName.h"
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

// One look at the entries in use, each a consistent copy.
struct Seen {
    std::uint32_t controllers = 0;
    std::uint32_t trackers = 0;
    quorlix_shm_controller con[QUORLIX_SHM_ENTRIES] = {};
    quorlix_shm_tracker tra[QUORLIX_SHM_ENTRIES] = {};
    bool stale = false;  // a mirror whose sender is silent
};

void look(const quorlix_shm& shm, Seen& seen) {
    seen.controllers = quorlix_shm_controller_count(&shm);
    seen.trackers = quorlix_shm_tracker_count(&shm);
    // An entry the host keeps rewriting stays as last seen.
    for (std::uint32_t n = 1; n <= seen.controllers; ++n) quorlix_shm_read_controller(&shm, n, &seen.con[n - 1]);
    for (std::uint32_t n = 1; n <= seen.trackers; ++n) quorlix_shm_read_tracker(&shm, n, &seen.tra[n - 1]);
    seen.stale = quorlix_shm_word(&shm.stale) != 0;
}

std::string ownerOf(const quorlix_shm_entry_head& head) {
    return std::string(head.owner, strnlen(head.owner, QUORLIX_SHM_OWNER_SIZE));
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

std::string plainTracker(const std::string& device, std::uint32_t n, const quorlix_tra_data& tra, bool lost) {
    std::string text = "tracker " + std::to_string(n) + " " + visibleText(device) + " ";
    const std::pair<const char*, std::int32_t> values[] = {{"x", tra.x},       {"y", tra.y},       {"z", tra.z},
                                                           {"azim", tra.azim}, {"elev", tra.elev}, {"roll", tra.roll}};
    for (const auto& v : values) {
        std::int32_t stored = quorlix_net_i32(v.second);
        text += std::string(" ") + v.first + " " + (stored >= 0 ? "+" : "") + fixedDecimal(stored, 5);
    }
    return lost ? text + "  line lost" : text;
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

    Seen last, seen;
    bool first = true;
    bool away = false;  // the host stopped or is gone: waiting for one to start
    std::uint32_t generation = quorlix_shm_word(&shm->generation);
    int status = 0;
    const auto started = std::chrono::steady_clock::now();
    while (!stop.load()) {
        // A new host on the same object starts afresh: everything is shown again.
        const std::uint32_t now = quorlix_shm_word(&shm->generation);
        if (now != generation) {
            generation = now;
            first = true;
            last = Seen();
            away = false;
            status = 0;
        }
        look(*shm, seen);
        // JSON carries the stale mark with each record: when it changes, they are all written again.
        const bool restate = first || (options.json && seen.stale != last.stale);
        for (std::uint32_t n = 1; n <= seen.controllers; ++n) {
            const quorlix_shm_controller& e = seen.con[n - 1];
            if (!restate && e.head.changes == last.con[n - 1].head.changes) continue;
            if (e.head.changes == 0 && !options.once) continue;
            say(options.json ? controllerJson(ownerOf(e.head), n, e.record, e.head.lost != 0, seen.stale)
                             : plainController(ownerOf(e.head), n, e.record, e.head.lost != 0));
        }
        for (std::uint32_t n = 1; n <= seen.trackers; ++n) {
            const quorlix_shm_tracker& e = seen.tra[n - 1];
            if (!restate && e.head.changes == last.tra[n - 1].head.changes) continue;
            if (e.head.changes == 0 && !options.once) continue;
            say(options.json ? trackerJson(ownerOf(e.head), n, e.record, e.head.lost != 0, seen.stale)
                             : plainTracker(ownerOf(e.head), n, e.record, e.head.lost != 0));
        }
        // Only a render node's mirror goes stale: said when it starts and ends.
        if (first ? seen.stale : seen.stale != last.stale) {
            std::fputs(seen.stale ? "quorlix-host watch: stale: the mirror follows no host now (none yet, or it "
                                    "stopped or fell silent); these records may be old\n"
                                  : "quorlix-host watch: the mirror is current: it follows a host\n",
                       stderr);
        }
        last = seen;
        first = false;
        const bool alive = quorlix_shm_host_alive(shm) != 0;
        const bool stopped = quorlix_shm_word(&shm->running) == 0;
        if (!alive && !away) {
            away = true;
            if (stopped && !options.once)
                std::fprintf(stderr, "quorlix-host watch: the host has stopped; waiting for it to start again\n");
            else if (!stopped)
                std::fprintf(stderr, "quorlix-host watch: the host is gone without stopping; %s\n",
                             options.once ? "these were its last records"
                                          : "its last records stay as shown; waiting for it to start again");
            if (!stopped) status = 1;
        } else if (alive && away) {
            away = false;
            status = 0;
            std::fprintf(stderr, "quorlix-host watch: the host runs again\n");
        }
        if (options.once) break;
        if (options.duration > 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() >= options.duration)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(options.intervalMs));
        // A host that starts again may bring a new object under the name.
        if (away) {
            quorlix_shm* again = quorlix_shm_attach(name.c_str(), owner, why, sizeof why);
            if (again != nullptr && quorlix_shm_host_alive(again)) {
                quorlix_shm_detach(shm);
                shm = again;
                generation = quorlix_shm_word(&shm->generation);
                first = true;
                last = Seen();
            } else {
                quorlix_shm_detach(again);
            }
        }
    }
    quorlix_shm_detach(shm);
    return status;
}

}  // namespace host
