#include "HostRig.h"

#include "WorkFiles.h"

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

bool waitForPath(const std::string& path, milliseconds timeout) {
    const auto until = Clock::now() + timeout;
    struct stat info {};
    while (Clock::now() < until) {
        if (::stat(path.c_str(), &info) == 0) return true;
        std::this_thread::sleep_for(milliseconds(10));
    }
    return false;
}

std::vector<std::int64_t> readStamps(const std::string& path) {
    std::vector<std::int64_t> stamps;
    std::ifstream in(path);
    long long ns = 0;
    while (in >> ns) stamps.push_back(ns);
    return stamps;
}

}  // namespace

std::string HostRig::shmName(const std::string& run) { return "quorlix-bench-" + std::to_string(::getpid()) + "-" + run; }

HostRig::HostRig(const RigStart& start, const std::string& dir, const std::string& run, const std::string& script)
    : link_(start.line.empty() ? dir + "/" + run + ".line" : start.line), stamps_(dir + "/" + run + ".stamps"),
      hostLog_(dir + "/" + run + ".host.log") {
    const std::string scriptFile = dir + "/" + run + ".script";
    const std::string config = dir + "/" + run + ".conf";
    const std::string shm = shmName(run);
    if (!writeFile(config, "showdate off\nshowtime off\nshowthreadid off\ndevice wand quorlix\nport " + link_ + "\n" +
                               start.config) ||
        (start.line.empty() && !writeFile(scriptFile, script))) {
        error_ = "cannot write to " + dir;
        return;
    }
    if (start.line.empty()) {
        std::vector<std::string> command = {start.sim, "--script", scriptFile, "--link", link_, "--stamps", stamps_, "-q"};
        command.insert(command.end(), start.simOptions.begin(), start.simOptions.end());
        sim_.reset(new ChildProcess(command, dir + "/" + run + ".sim.log"));
        if (!sim_->started() || !waitForPath(link_, milliseconds(5000))) {
            error_ = "quorlix-sim did not start (" + start.sim + ")";
            return;
        }
    }
    std::vector<std::string> command = start.prefix;
    command.push_back(start.host);
    command.insert(command.end(), start.hostOptions.begin(), start.hostOptions.end());
    command.insert(command.end(), {"--no-view", "--shm", shm, config});
    host_.reset(new ChildProcess(command, hostLog_));
    if (!host_->started() || !records_.open(shm, milliseconds(10000))) {
        error_ = "quorlix-host did not start (" + start.host + "); see " + hostLog_;
        return;
    }
    // The device's first call publishes its record: from then on it is running.
    if (!records_.waitForController(1, milliseconds(10000))) error_ = "the wand published nothing; see " + hostLog_;
}

HostRig::~HostRig() {
    if (host_) host_->stop();
    if (sim_) sim_->stop();
}

std::vector<std::int64_t> HostRig::stamps() {
    sim_->wait(milliseconds(60000));
    return readStamps(stamps_);
}
