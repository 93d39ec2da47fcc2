// A native Linux helper for the Windows tests under Wine: two pseudo-terminals
// wired like a null-modem cable, each reachable through a link (the COM port
// links of a Wine prefix). What a program writes to one line arrives as input
// on the other, so a Windows test plays the wand on one COM port while the
// code under test reads the other.
//
// Usage: quorlix-null-modem LINK_A LINK_B
// Makes both links, then relays until SIGTERM, SIGINT or its parent's exit,
// and removes the links again.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

volatile sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

struct Line {
    int master = -1;
    // Kept open so the master never sees a hang-up between two Windows opens.
    int slave = -1;
    std::string slaveName;
    std::string link;
};

bool fail(const char* what) {
    std::fprintf(stderr, "quorlix-null-modem: %s: %s\n", what, std::strerror(errno));
    return false;
}

bool openLine(Line& line) {
    line.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (line.master < 0) return fail("posix_openpt");
    if (grantpt(line.master) != 0 || unlockpt(line.master) != 0) return fail("grantpt/unlockpt");
    const char* name = ptsname(line.master);
    if (name == nullptr) return fail("ptsname");
    line.slaveName = name;
    line.slave = open(name, O_RDWR | O_NOCTTY);
    if (line.slave < 0) return fail(name);
    // Raw until the Windows side sets its own line settings.
    termios settings{};
    if (tcgetattr(line.slave, &settings) != 0) return fail("tcgetattr");
    cfmakeraw(&settings);
    if (tcsetattr(line.slave, TCSANOW, &settings) != 0) return fail("tcsetattr");
    unlink(line.link.c_str());
    if (symlink(line.slaveName.c_str(), line.link.c_str()) != 0) return fail(line.link.c_str());
    return true;
}

// Copies what one line sent to the other line's input.
bool relay(const Line& from, const Line& to) {
    char buffer[4096];
    const ssize_t got = read(from.master, buffer, sizeof buffer);
    if (got < 0) return errno == EINTR || errno == EAGAIN || fail("read");
    for (ssize_t done = 0; done < got;) {
        const ssize_t put = write(to.master, buffer + done, static_cast<size_t>(got - done));
        if (put < 0) {
            if (errno == EINTR) continue;
            return fail("write");
        }
        done += put;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s LINK_A LINK_B\n", argv[0]);
        return 2;
    }
    // Never outlive the script that started it, whatever ends that script.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    struct sigaction action {};
    action.sa_handler = requestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);

    Line lines[2];
    lines[0].link = argv[1];
    lines[1].link = argv[2];
    bool ok = openLine(lines[0]) && openLine(lines[1]);

    while (ok && stopRequested == 0) {
        pollfd ready[2] = {{lines[0].master, POLLIN, 0}, {lines[1].master, POLLIN, 0}};
        const int count = poll(ready, 2, 500);
        if (count < 0) {
            if (errno != EINTR) ok = fail("poll");
            continue;
        }
        if ((ready[0].revents & POLLIN) != 0) ok = relay(lines[0], lines[1]) && ok;
        if ((ready[1].revents & POLLIN) != 0) ok = relay(lines[1], lines[0]) && ok;
    }

    for (Line& line : lines) {
        if (!line.link.empty()) unlink(line.link.c_str());
        if (line.slave >= 0) close(line.slave);
        if (line.master >= 0) close(line.master);
    }
    return ok ? 0 : 1;
}
