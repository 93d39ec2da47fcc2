#include "SharedRecords.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <thread>

SharedRecords::~SharedRecords() {
    if (shm_ != nullptr) ::munmap(shm_, sizeof *shm_);
}

bool SharedRecords::open(const std::string& name, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    const std::string object = "/" + name;
    while (std::chrono::steady_clock::now() < until) {
        const int fd = ::shm_open(object.c_str(), O_RDWR, 0);
        struct stat info {};
        // Mapped only once the host has sized it, so no access can fault.
        if (fd >= 0 && ::fstat(fd, &info) == 0 && static_cast<std::size_t>(info.st_size) >= sizeof(quorlix_shm)) {
            void* mapped = ::mmap(nullptr, sizeof(quorlix_shm), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            ::close(fd);
            if (mapped != MAP_FAILED) {
                auto* shm = static_cast<quorlix_shm*>(mapped);
                if (quorlix_shm_valid(shm, sizeof *shm)) {
                    shm_ = shm;
                    return true;
                }
                ::munmap(mapped, sizeof(quorlix_shm));
            }
        } else if (fd >= 0) {
            ::close(fd);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

quorlix_con_data SharedRecords::controller(std::uint32_t n) {
    quorlix_con_data copy{};
    if (shm_ == nullptr || n < 1 || n > QUORLIX_SHM_ENTRIES) return copy;
    if (quorlix_shm_lock(&shm_->controllers.lock.mutex) != 0) return copy;
    copy = shm_->con[n - 1];
    quorlix_shm_unlock(&shm_->controllers.lock.mutex);
    return copy;
}

std::uint32_t SharedRecords::controllerRewrites(std::uint32_t n) {
    if (shm_ == nullptr || n < 1 || n > QUORLIX_SHM_ENTRIES) return 0;
    if (quorlix_shm_lock(&shm_->controllers.lock.mutex) != 0) return 0;
    const std::uint32_t rewrites = shm_->controllers.changes[n - 1];
    quorlix_shm_unlock(&shm_->controllers.lock.mutex);
    return rewrites;
}

bool SharedRecords::waitForController(std::uint32_t n, std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (quorlix_net_u32(controller(n).valuator_count) == 0) {
        if (std::chrono::steady_clock::now() > until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

std::uint32_t buttonBits(const quorlix_con_data& record) {
    std::uint32_t bits = 0;
    for (std::uint32_t n = 1; n <= 32; ++n) {
        if (quorlix_con_button(&record, n) != 0) bits |= 1u << (n - 1);
    }
    return bits;
}
