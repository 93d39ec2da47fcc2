#include "HostOptions.h"

#include "OscUrl.h"
#include "RealtimePriority.h"
#include "ShmName.h"
#include "VisibleText.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include <pwd.h>

namespace host {

const char* const kHostUsage =
    "usage: quorlix-host [options] [CONFIG]\n"
    "       quorlix-host watch --shm NAME [--json] [--once] [--interval MS] [--owner USER]\n"
    "                          [--duration SECS]\n"
    "       quorlix-host mirror --listen PORT|URL --shm NAME [--from HOST] [--shm-group GROUP]\n"
    "\n"
    "Runs the devices of a configuration file: loads each device's plug-in, creates the\n"
    "shared tracker and controller storages, drives every device on a thread of its own\n"
    "and shows what they publish. Without CONFIG and --port it runs the demo: a simulated\n"
    "wand (quorlix-sim) plays a script and the host ends with a summary when it is done.\n"
    "\n"
    "  CONFIG            configuration file (see docs/configuration.md)\n"
    "  --port DEVICE     one wand on a serial port, e.g. /dev/ttyUSB0, with the built-in\n"
    "                    configuration (the demo's, on a real line)\n"
    "  --json            JSON Lines on standard output, one object per changed record\n"
    "  --plain           plain text view even on a terminal\n"
    "  --no-view         no view, only the devices' log and the summary\n"
    "  --log FILE        also append the whole log to FILE (the view shows a device's report\n"
    "                    once and each later reconnect try as one line)\n"
    "  --shm NAME        keep the storages in POSIX shared memory /NAME, for other programs\n"
    "                    (see 'watch'); removed on exit\n"
    "  --shm-group GROUP\n"
    "                    with --shm: the object belongs to GROUP with mode 0660, so that\n"
    "                    GROUP's members can read it (default: mode 0600, this user only)\n"
    "  --osc URL         also send every change over OSC (UDP) to URL, osc.udp://HOST:PORT/,\n"
    "                    or to a multicast group such as osc.udp://239.255.42.1:7770/; repeat\n"
    "                    it for more receivers; replaces CONFIG's osc lines (see docs/osc.md)\n"
    "  --osc-ttl N       routers (1 to 255) a multicast datagram may cross (default 1: this\n"
    "                    network only)\n"
    "  --keep-going      run on when a device's init fails, trying it again from time to time\n"
    "  --duration SECS   stop after this many seconds (default 0: until stopped)\n"
    "  --debug LEVEL     debug level of the devices' logger (overrides the configuration)\n"
    "  --realtime [PRIO]\n"
    "                    run each device's thread with real-time scheduling (SCHED_FIFO) at\n"
    "                    priority PRIO, 1 to 99 (default 10; a number right after the flag\n"
    "                    is its PRIO), so a busy machine does not delay the records; the\n"
    "                    configuration line \"realtime PRIO\" does the same. It needs\n"
    "                    CAP_SYS_NICE or an rtprio limit (the service unit: LimitRTPRIO=,\n"
    "                    RestrictRealtime=no); without, the host says so once and runs on\n"
    "  --plugin PATH     the plug-in that the library name \"quorlix\" stands for (default:\n"
    "                    ../lib/quorlix/quorlix.so from this program's folder, or the one\n"
    "                    built with it)\n"
    "  --sim PATH        the simulator the demo starts (default: quorlix-sim in this\n"
    "                    program's folder, or the one built with it)\n"
    "  --help, --version\n"
    "\n"
    "watch: attach to a host started with --shm NAME and show each record as it changes,\n"
    "until that host stops.\n"
    "  --shm NAME        the host's shared memory\n"
    "  --json            JSON Lines instead of plain text\n"
    "  --once            show the records in use once and exit\n"
    "  --interval MS     how often to look (default 50)\n"
    "  --owner USER      the user the host runs as, by name or number (default: this one);\n"
    "                    an object of any other user, or one every user may write, is refused\n"
    "  --duration SECS   stop after this many seconds (default 0: until the host stops)\n"
    "\n"
    "mirror: on a render node, receive what a host sends with --osc and keep the same shared\n"
    "memory /NAME for the programs there (and 'watch'). Its header says 'stale' until the\n"
    "first keyframe (once a second) and after 3 s without a datagram; datagrams lost,\n"
    "malformed or from other hosts are counted and reported, never written.\n"
    "  --listen PORT|URL\n"
    "                    where the host's datagrams arrive: a UDP port on every network of\n"
    "                    this node (7770, or osc.udp://:7770/), the same port on one\n"
    "                    address of this node only, for a node on two networks\n"
    "                    (osc.udp://192.168.1.20:7770/), or a multicast group to join\n"
    "                    (osc.udp://239.255.42.1:7770/)\n"
    "  --shm NAME        the shared memory to create on this node\n"
    "  --from HOST       accept datagrams from HOST (name or address) only; OSC has no\n"
    "                    authentication, so use it and keep OSC on a private network\n"
    "  --shm-group GROUP\n"
    "                    the object belongs to GROUP with mode 0660 (default 0600)\n"
    "  --duration SECS   stop after this many seconds (default 0: until stopped)\n"
    "\n"
    "Standard output carries the view alone (plain text and the summary; or JSON, the summary\n"
    "then going to standard error so that the stream stays JSON); the devices'\n"
    "log and the host's messages go to standard error, or into the live view on a terminal,\n"
    "which fits the terminal's size and follows it.\n"
    "\n"
    "SIGINT, SIGTERM, SIGHUP or SIGQUIT stops every device within one read time-out, and a\n"
    "closed standard output (a reader such as 'head' that went away) stops the host too; the\n"
    "exit status is then 0. A device still blocked 1.5 s after the stop (waiting for a storage\n"
    "lock that another program holds) is named, and the host exits with status 1 without it.\n"
    "Exit status 1: a device's init failed (without --keep-going), the storages could not be\n"
    "created, or a device did not stop; 2: bad command line or configuration (a port that\n"
    "is not a terminal included).\n"
    "watch exits with status 1 when the host is gone without stopping. mirror exits with\n"
    "status 1 when its shared memory cannot be created, 2 when it cannot listen there.\n";

namespace {

bool parseNumber(const std::string& text, double low, double high, double& out) {
    errno = 0;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !std::isfinite(value) || value < low || value > high) return false;
    out = value;
    return true;
}

}  // namespace

bool parseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error) {
    options = HostOptions{};
    int first = 1;
    if (argc > 1 && std::string(argv[1]) == "watch") {
        options.mode = HostOptions::Mode::watch;
        first = 2;
    } else if (argc > 1 && std::string(argv[1]) == "mirror") {
        options.mode = HostOptions::Mode::mirror;
        first = 2;
    }
    auto setView = [&](HostOptions::View view, const std::string& flag) {
        if (options.view != HostOptions::View::automatic && options.view != view) {
            error = flag + ": only one of --json, --plain, --no-view";
            return false;
        }
        options.view = view;
        return true;
    };
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string value;
        auto takeValue = [&]() {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
            return true;
        };
        double number = 0;
        if (arg == "--help" || arg == "-h") options.help = true;
        else if (arg == "--version") options.version = true;
        else if (arg == "--json" && options.mode != HostOptions::Mode::mirror) {
            if (!setView(HostOptions::View::json, arg)) return false;
            options.watch.json = true;
        } else if (arg == "--shm") {
            if (!takeValue()) return false;
            if (shmObjectName(value).empty()) {
                error = "--shm: \"" + visibleText(value) + "\" cannot name a shared-memory object (one word, no '/' inside)";
                return false;
            }
            options.shm = value;
            options.watch.shm = value;
        } else if (arg == "--shm-group" && options.mode != HostOptions::Mode::watch) {
            if (!takeValue()) return false;
            if (value.empty()) {
                error = "--shm-group needs a group name";
                return false;
            }
            options.shmGroup = value;
        } else if (options.mode == HostOptions::Mode::watch && arg != "--duration") {
            if (arg == "--once") options.watch.once = true;
            else if (arg == "--owner") {
                if (!takeValue()) return false;
                if (const passwd* user = getpwnam(value.c_str())) {
                    options.watch.owner = user->pw_uid;
                } else if (parseNumber(value, 0, 4294967294.0, number) && number == std::floor(number)) {
                    options.watch.owner = static_cast<unsigned>(number);
                } else {
                    error = "--owner: \"" + value + "\" is neither a user of this system nor a user number";
                    return false;
                }
                options.watch.ownerGiven = true;
            }
            else if (arg == "--interval") {
                if (!takeValue()) return false;
                if (!parseNumber(value, 1, 60000, number)) {
                    error = "--interval: \"" + value + "\" is not a number of milliseconds from 1 to 60000";
                    return false;
                }
                options.watch.intervalMs = static_cast<int>(number);
            } else {
                error = "watch: unknown option \"" + arg + "\" (see --help)";
                return false;
            }
        } else if (options.mode == HostOptions::Mode::mirror && arg != "--duration" && arg != "--help" &&
                   arg != "-h") {
            if (arg == "--listen" || arg == "--from") {
                if (!takeValue()) return false;
                if (value.empty()) {
                    error = arg + " needs a value";
                    return false;
                }
                (arg == "--listen" ? options.mirror.listen : options.mirror.from) = value;
            } else {
                error = "mirror: unknown option \"" + arg + "\" (see --help)";
                return false;
            }
        } else if (arg == "--osc") {
            if (!takeValue()) return false;
            const std::string problem = oscUrlProblem(value);
            if (!problem.empty()) {
                error = "--osc " + visibleText(problem);
                return false;
            }
            options.osc.push_back(value);
        } else if (arg == "--osc-ttl") {
            if (!takeValue()) return false;
            if (!parseNumber(value, 1, 255, number) || number != std::floor(number)) {
                error = "--osc-ttl: \"" + visibleText(value) + "\" is not a number of hops from 1 to 255";
                return false;
            }
            options.oscTtl = static_cast<int>(number);
        } else if (arg == "--plain") {
            if (!setView(HostOptions::View::plain, arg)) return false;
        } else if (arg == "--no-view") {
            if (!setView(HostOptions::View::none, arg)) return false;
        } else if (arg == "--port") {
            if (!takeValue()) return false;
            options.port = value;
        } else if (arg == "--keep-going") options.keepGoing = true;
        else if (arg == "--duration") {
            if (!takeValue()) return false;
            if (!parseNumber(value, 0, 1e7, number)) {
                error = "--duration: \"" + visibleText(value) + "\" is not a number of seconds (0 or more; 0: until stopped)";
                return false;
            }
            options.duration = number;
        } else if (arg == "--debug") {
            if (!takeValue()) return false;
            if (!parseNumber(value, 0, 1000, number) || number != std::floor(number)) {
                error = "--debug: \"" + value + "\" is not a debug level from 0 to 1000";
                return false;
            }
            options.debugLevel = static_cast<int>(number);
        } else if (arg == "--realtime") {
            options.realtime = kRealtimeDefault;
            if (i + 1 < argc && std::string(argv[i + 1]).find_first_not_of("0123456789") == std::string::npos &&
                argv[i + 1][0] != '\0') {
                value = argv[++i];
                if (!parseRealtimePriority(value, options.realtime)) {
                    error = "--realtime: \"" + value + "\" is not a priority from " + std::to_string(kRealtimeLowest) +
                            " to " + std::to_string(kRealtimeHighest);
                    return false;
                }
            }
        } else if (arg == "--plugin") {
            if (!takeValue()) return false;
            options.plugin = value;
        } else if (arg == "--sim") {
            if (!takeValue()) return false;
            options.sim = value;
        } else if (arg == "--log") {
            if (!takeValue()) return false;
            if (value.empty()) {
                error = "--log needs a file name";
                return false;
            }
            options.log = value;
        } else if (!arg.empty() && arg[0] == '-') {
            error = "unknown option \"" + arg + "\" (see --help)";
            return false;
        } else if (options.config.empty()) {
            options.config = arg;
        } else {
            error = "only one configuration file, not \"" + options.config + "\" and \"" + arg + "\"";
            return false;
        }
    }
    if (options.mode == HostOptions::Mode::watch && options.watch.shm.empty() && !options.help) {
        error = "watch needs --shm NAME";
        return false;
    }
    options.watch.duration = options.duration;
    if (options.mode == HostOptions::Mode::mirror && !options.help) {
        if (options.mirror.listen.empty() || options.shm.empty()) {
            error = "mirror needs --listen PORT|URL and --shm NAME";
            return false;
        }
        options.mirror.shm = options.shm;
        options.mirror.shmGroup = options.shmGroup;
        options.mirror.duration = options.duration;
    }
    if (!options.shmGroup.empty() && options.shm.empty()) {
        error = "--shm-group needs --shm NAME";
        return false;
    }
    if (!options.config.empty() && !options.port.empty()) {
        error = "give a configuration file or --port, not both";
        return false;
    }
    return true;
}

std::string builtInConfig(const std::string& port) {
    return "# One Quorlix wand with the built-in settings\n"
           "showdate off\n"
           "showthreadid off\n"
           "device wand quorlix\n"
           "serialport " + port + "\n"
           "valrate 0.1\n"
           "valdecrementrate 0.2\n"
           "emulatetracker 1 [0,0,0,0,0,0] 1 2 0 0 0 0 6\n";
}

}  // namespace host
