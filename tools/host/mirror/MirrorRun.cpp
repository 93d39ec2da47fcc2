#include "MirrorRun.h"

#include "HostLog.h"
#include "MirrorChanges.h"
#include "MirrorStorages.h"
#include "OscMirror.h"
#include "ServiceManager.h"
#include "SharedStorages.h"
#include "ShmGroupCheck.h"
#include "VrpnServer.h"

#include <chrono>
#include <memory>

namespace host {

int runMirror(const MirrorOptions& options, const std::atomic<bool>& stop) {
    std::string error;
    if (!options.shmGroup.empty()) {
        const std::string problem = shmGroupProblem(options.shmGroup);
        if (!problem.empty()) {
            hostMessage("mirror: --shm-group: " + problem);
            return 2;
        }
    }
    std::unique_ptr<SharedStorages> storages = SharedStorages::create(options.shm, LoggerSettings{}, error,
                                                                      options.shmGroup);
    if (!storages) {
        hostMessage("mirror: " + error);
        return 1;
    }
    MirrorStorages storageTarget(*storages);
    // With --vrpn, what the mirror writes goes to VRPN clients too. Bound
    // first: a port that cannot serve is the command line's fault.
    std::unique_ptr<VrpnServer> vrpn;
    std::unique_ptr<MirrorChanges> told;
    if (options.vrpn.on) {
        vrpn = VrpnServer::create(options.vrpn, {}, storages->view(), [](const std::string& text) { hostMessage("mirror: " + text); },
                                  error);
        if (!vrpn) {
            hostMessage("mirror: " + error);
            return 2;
        }
        told.reset(new MirrorChanges(storageTarget, storages->view(), *vrpn));
    }
    MirrorTarget& mirrored = told ? static_cast<MirrorTarget&>(*told) : storageTarget;
    bool wrong = false;
    std::unique_ptr<OscMirror> mirror =
        OscMirror::create(options.listen, options.from, mirrored, [](const std::string& text) { hostMessage("mirror: " + text); },
                          error, &wrong);
    // A wrong --listen stays wrong; a name not found yet, a port in use or a
    // network not up at boot may pass, so a service tries again.
    if (!mirror) {
        hostMessage("mirror: " + error);
        return wrong ? 2 : 1;
    }
    hostMessage("mirror: listening on " + mirror->where() + (options.from.empty() ? "" : " for " + options.from + " only") +
                ", storages in " + storages->shmName() + " (stale until the first keyframe)");
    // What systemctl status shows of a render node: whom it follows.
    auto statusLine = [&] {
        return mirror->stale() || mirror->followed().empty() ? "listening on " + mirror->where() + "; no host followed now (stale)"
                                                             : "following " + mirror->followed();
    };
    if (vrpn) vrpn->start();
    ServiceManager service;
    service.ready(statusLine());
    const auto started = std::chrono::steady_clock::now();
    while (!stop.load()) {
        mirror->poll(100);
        storages->view().renewHeartbeat();
        service.alive();
        service.status(statusLine());
        if (options.duration > 0 &&
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count() >= options.duration)
            break;
    }
    service.stopping();
    hostMessage("mirror: " + mirror->status());
    mirror.reset();  // nothing more to tell the VRPN server
    if (vrpn) {
        const bool ended = vrpn->stop(std::chrono::steady_clock::now() + std::chrono::milliseconds(500));
        hostMessage("mirror: " + vrpn->status());
        if (!ended) vrpn.release();  // a send that cannot end: left, with what it uses
    }
    return 0;
}

}  // namespace host
