#include "MirrorRun.h"

#include "HostLog.h"
#include "MirrorStorages.h"
#include "OscMirror.h"
#include "SharedStorages.h"

#include <chrono>
#include <memory>

namespace host {

int runMirror(const MirrorOptions& options, const std::atomic<bool>& stop) {
    std::string error;
    std::unique_ptr<SharedStorages> storages = SharedStorages::create(options.shm, LoggerSettings{}, error,
                                                                      options.shmGroup);
    if (!storages) {
        hostMessage("mirror: " + error);
        return 1;
    }
    MirrorStorages mirrored(*storages);
    std::unique_ptr<OscMirror> mirror =
        OscMirror::create(options.listen, options.from, mirrored, [](const std::string& text) { hostMessage("mirror: " + text); },
                          error);
    if (!mirror) {
        hostMessage("mirror: " + error);
        return 2;
    }
    hostMessage("mirror: listening on " + mirror->where() + (options.from.empty() ? "" : " for " + options.from + " only") +
                ", storages in " + storages->shmName() + " (stale until the first keyframe)");
    const auto started = std::chrono::steady_clock::now();
    while (!stop.load()) {
        mirror->poll(100);
        storages->view().renewHeartbeat();
        if (options.duration > 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() >= options.duration)
            break;
    }
    hostMessage("mirror: " + mirror->status());
    return 0;
}

}  // namespace host
