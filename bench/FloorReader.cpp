#include "FloorReader.h"

#include "SharedRecords.h"

#include <arpa/inet.h>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cstring>
#include <thread>

FloorReader::FloorReader(const std::uint8_t (*bodies)[2], int patterns) : bodies_(bodies), patterns_(patterns) {
    void* mapped = ::mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return;
    shared_ = static_cast<Shared*>(mapped);
}

FloorReader::~FloorReader() {
    if (child_ > 0) {
        ::kill(child_, SIGKILL);
        ::waitpid(child_, nullptr, 0);
    }
    if (shared_ != nullptr) ::munmap(shared_, sizeof(Shared));
}

std::string FloorReader::start(const std::string& line, int fifoPriority, std::chrono::milliseconds timeout) {
    if (shared_ == nullptr) return "no shared memory for the floor reader";
    child_ = ::fork();
    if (child_ < 0) return std::string("fork: ") + std::strerror(errno);
    if (child_ == 0) run(line, fifoPriority);
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (__atomic_load_n(&shared_->status, __ATOMIC_ACQUIRE) == 0) {
        if (std::chrono::steady_clock::now() > until) return "the floor reader did not start";
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const int status = __atomic_load_n(&shared_->status, __ATOMIC_ACQUIRE);
    if (status != 1) return "floor reader on " + line + ": " + std::strerror(status);
    return "";
}

std::uint32_t FloorReader::buttons() {
    quorlix_shm_controller copy{};
    if (quorlix_shm_read_entry(&shared_->entry, &copy, sizeof copy) != 0) return 0;
    return buttonBits(copy.record);
}

// The host's way: the counter odd while the words change.
void FloorReader::publish(const quorlix_con_data& record) {
    auto* to = reinterpret_cast<std::uint32_t*>(&shared_->entry);
    const auto* from = reinterpret_cast<const std::uint32_t*>(&record);
    const std::uint32_t seq = __atomic_load_n(&to[0], __ATOMIC_RELAXED);
    __atomic_store_n(&to[0], seq + 1, __ATOMIC_RELAXED);
    const std::size_t head = sizeof(quorlix_shm_entry_head) / 4;
    for (std::size_t i = 0; i < sizeof record / 4; ++i) __atomic_store_n(&to[head + i], from[i], __ATOMIC_RELEASE);
    __atomic_store_n(&to[0], seq + 2, __ATOMIC_RELEASE);
}

// The child: no allocation, only system calls and the shared block.
void FloorReader::run(const std::string& line, int fifoPriority) {
    const auto fail = [this](int cause) {
        __atomic_store_n(&shared_->status, cause, __ATOMIC_RELEASE);
        ::_exit(1);
    };
    const int fd = ::open(line.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) fail(errno);
    termios t{};
    if (::tcgetattr(fd, &t) != 0) fail(errno);
    ::cfmakeraw(&t);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::cfsetispeed(&t, B9600) != 0 || ::cfsetospeed(&t, B9600) != 0 || ::tcsetattr(fd, TCSANOW, &t) != 0) fail(errno);
    if (fifoPriority > 0) {
        sched_param p{};
        p.sched_priority = fifoPriority;
        if (::sched_setscheduler(0, SCHED_FIFO, &p) != 0) fail(errno);
    }
    __atomic_store_n(&shared_->status, 1, __ATOMIC_RELEASE);

    std::uint8_t body[8];
    int length = -1;  // -1: no record open
    quorlix_con_data work{};
    work.button_count = htonl(32);
    work.button_bytes = sizeof work.buttons;
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 100);
        if (ready < 0 && errno != EINTR) ::_exit(0);
        if (ready <= 0) continue;
        std::uint8_t byte = 0;
        const ssize_t n = ::read(fd, &byte, 1);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) ::_exit(0);
        if (n < 0) continue;
        if (byte == 0x80) {
            length = 0;
        } else if (length >= 0 && byte == 0x8F) {
            for (int pattern = 0; pattern < patterns_; ++pattern) {
                if (length == 2 && body[0] == bodies_[pattern][0] && body[1] == bodies_[pattern][1]) {
                    const std::uint32_t bits = 1u << pattern;
                    for (unsigned b = 0; b < sizeof work.buttons; ++b) work.buttons[b] = static_cast<std::uint8_t>(bits >> (8 * b));
                    publish(work);
                }
            }
            length = -1;
        } else if (length >= 0 && length < static_cast<int>(sizeof body)) {
            body[length++] = byte;
        }
    }
}
