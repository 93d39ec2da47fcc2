#include "OutputThread.h"

#include <csignal>
#include <mutex>

#include <pthread.h>

namespace host {

namespace {

void ignoreWake(int) {}

int wakeSignal() {
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = ignoreWake;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0;  // no SA_RESTART: the blocked call returns
        sigaction(SIGRTMIN + 1, &action, nullptr);
    });
    return SIGRTMIN + 1;
}

}  // namespace

OutputThread::~OutputThread() {
    if (thread_.joinable()) thread_.join();
}

void OutputThread::start(std::function<void()> body) {
    if (thread_.joinable()) return;
    finished_ = false;
    thread_ = std::thread([this, body = std::move(body)] {
        body();
        finished_ = true;
    });
}

bool OutputThread::joinBefore(std::chrono::steady_clock::time_point deadline) {
    if (!thread_.joinable()) return true;
    using namespace std::chrono_literals;
    while (!finished_.load() && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(2ms);
    if (!finished_.load()) {
        giveUp_ = true;
        const int signal = wakeSignal();
        // The wake may come just before the thread enters its write: again, briefly.
        const auto until = std::chrono::steady_clock::now() + 300ms;
        while (!finished_.load() && std::chrono::steady_clock::now() < until) {
            pthread_kill(thread_.native_handle(), signal);
            std::this_thread::sleep_for(5ms);
        }
    }
    if (!finished_.load()) {
        thread_.detach();
        return false;
    }
    thread_.join();
    return true;
}

}  // namespace host
