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
    "                           [--vrpn [[ADDR:]PORT]]\n"
    "       quorlix-host release CONFIG\n"
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
    "  --shm NAME        publish the records in POSIX shared memory /NAME, read-only for\n"
    "                    other programs (see 'watch'); removed on exit\n"
    "  --shm-group GROUP\n"
    "                    with --shm: the object belongs to GROUP with mode 0640, so that\n"
    "                    GROUP's members can read it (default: mode 0600, this user only)\n"
    "  --osc URL         also send every change over OSC (UDP) to URL, osc.udp://HOST:PORT/,\n"
    "                    or to a multicast group such as osc.udp://239.255.42.1:7770/; repeat\n"
    "                    it for more receivers; replaces CONFIG's osc lines (see docs/osc.md)\n"
    "  --osc-ttl N       routers (1 to 255) a multicast datagram may cross (default 1: this\n"
    "                    network only)\n"
    "  --vrpn [[ADDR:]PORT]\n"
    "                    serve the devices to VRPN applications: clients open NAME@thishost\n"
    "                    for a device's buttons, valuators and emulated tracker; TCP and UDP\n"
    "                    on PORT (default 3883, VRPN's) of every interface, or of ADDR only\n"
    "                    (e.g. 127.0.0.1:3883); replaces CONFIG's vrpn line. VRPN has no\n"
    "                    authentication: keep the port on a private network (docs/vrpn.md)\n"
    "  --keep-going      run on when a device's line fails: one whose port is not there (an\n"
    "                    adapter not plugged in) is waited for and starts within a second of\n"
    "                    it appearing, one whose port cannot be opened is tried again from\n"
    "                    time to time (the service runs so); a faulty configuration still\n"
    "                    ends the host\n"
    "  --duration SECS   stop after this many seconds (default 0: until stopped)\n"
    "  --debug LEVEL     debug level of the devices' logger (overrides the configuration)\n"
    "  --realtime [PRIO]\n"
    "                    run each device's thread with real-time scheduling (SCHED_FIFO) at\n"
    "                    priority PRIO, 1 to 99 (default 10; a number right after the flag\n"
    "                    is its PRIO), so a busy machine does not delay the records; the\n"
    "                    configuration line \"realtime PRIO\" does the same. It needs\n"
    "                    CAP_SYS_NICE or an rtprio limit (the service: a drop-in with\n"
    "                    RestrictRealtime=no and CAP_SYS_NICE, see its unit); without, the\n"
    "                    host says so once and runs on\n"
    "  --plugin PATH     the plug-in that the library name \"quorlix\" stands for (default:\n"
    "                    ../lib/quorlix/quorlix.so from this program's folder, or the one\n"
    "                    built with it)\n"
    "  --sim PATH        the simulator the demo starts (default: quorlix-sim in this\n"
    "                    program's folder, or the one built with it)\n"
    "  --help, --version\n"
    "\n"
    "watch: attach to a host started with --shm NAME and show each record as it changes;\n"
    "it follows the host across restarts, until stopped.\n"
    "  --shm NAME        the host's shared memory\n"
    "  --json            JSON Lines instead of plain text, each object ending with\n"
    "                    \"stale\":true or false (true: a mirror's records may be old)\n"
    "  --once            show the records in use once and exit\n"
    "  --interval MS     how often to look (default 50)\n"
    "  --owner USER      the user the host runs as, by name or number (default: this one);\n"
    "                    an object of any other user, or one other users may write, is refused\n"
    "  --duration SECS   stop after this many seconds (default 0: until stopped)\n"
    "\n"
    "mirror: on a render node, receive what a host sends with --osc and keep the same shared\n"
    "memory /NAME for the programs there (and 'watch'). It follows the first host whose\n"
    "keyframe (once a second) came whole and keeps exactly that host's entries; another\n"
    "takes over once that one is gone. When the host followed stops (it says goodbye) or\n"
    "is silent for 3 s, its buttons are released, its valuators set to 0 and its entries\n"
    "marked lost, as for a lost line. The header says 'stale' until the first whole\n"
    "keyframe and after such an end. A datagram is used whole or not at all; datagrams\n"
    "lost, malformed or from other hosts are counted and reported (at most every 10 s),\n"
    "never written.\n"
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
    "                    the object belongs to GROUP with mode 0640 (default 0600)\n"
    "  --vrpn [[ADDR:]PORT]\n"
    "                    serve what is mirrored to VRPN applications on this node, as the\n"
    "                    host does (render programs ask NAME@localhost)\n"
    "  --duration SECS   stop after this many seconds (default 0: until stopped)\n"
    "\n"
    "release: as root, give back the lines of CONFIG that are still marked for exclusive\n"
    "use although no program has them open: a pseudo-terminal keeps the mark while its far\n"
    "end is open, after a host was killed without its stop, and only root can open it then.\n"
    "A line that a program holds is left as it is. The service does this before each start.\n"
    "\n"
    "Under systemd (Type=notify) the host and the mirror say when they are ready, each\n"
    "device's state (systemctl status) and, where the unit sets WatchdogSec=, that their\n"
    "main loop still turns.\n"
    "\n"
    "Standard output carries the view alone (plain text and the summary; or JSON, the summary\n"
    "then going to standard error so that the stream stays JSON); the devices'\n"
    "log and the host's messages go to standard error, or into the live view on a terminal,\n"
    "which fits the terminal's size and follows it.\n"
    "\n"
    "SIGINT, SIGTERM, SIGHUP or SIGQUIT stops every device within one read time-out, and a\n"
    "closed standard output (a reader such as 'head' that went away) stops the host too; the\n"
    "exit status is then 0, whatever the readers of its output do. A device still stuck\n"
    "inside its plug-in 1.5 s after the stop is named, and the host exits with status 1\n"
    "without it.\n"
    "Exit status 1: a device's line failed at the start (without --keep-going), the storages\n"
    "could not be created, or a device did not stop; 2: bad command line or configuration,\n"
    "with file and line where it has one (a port that is not a terminal, an option the\n"
    "device does not know or refuses, an shm-group that does not exist or that this user is\n"
    "not a member of). release exits with status 1 when a line could not be looked at.\n"
    "watch exits with status 1 when the last host it saw is gone without stopping. mirror exits with\n"
    "status 1 when its shared memory cannot be created or it cannot listen yet (a name not\n"
    "found, a port in use), 2 when --listen is wrong or --shm-group cannot have the object.\n";

namespace {

using Mode = HostOptions::Mode;
using View = HostOptions::View;

bool parseNumber(const std::string& text, double low, double high, double& out) {
    errno = 0;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !std::isfinite(value) || value < low || value > high) return false;
    out = value;
    return true;
}

bool parseWhole(const std::string& text, double low, double high, int& out) {
    double number = 0;
    if (!parseNumber(text, low, high, number) || number != std::floor(number)) return false;
    out = static_cast<int>(number);
    return true;
}

// The modes a flag belongs to.
enum : unsigned { kRun = 1u << 0, kWatch = 1u << 1, kMirror = 1u << 2, kRelease = 1u << 3, kEveryMode = kRun | kWatch | kMirror };

unsigned bitOf(Mode mode) {
    return mode == Mode::watch ? kWatch : mode == Mode::mirror ? kMirror : mode == Mode::release ? kRelease : kRun;
}

// What follows a flag on the command line: nothing, a value, a priority
// only when the next word is a number, or an address only when the next
// word is a port or ADDR:PORT (never a configuration file's path).
enum class Takes { nothing, value, number, address };

struct Flag {
    const char* name;
    unsigned modes;
    Takes takes;
    // Sets the options from the value; false with `error` set.
    bool (*apply)(HostOptions& options, const std::string& value, std::string& error);
};

bool setView(HostOptions& options, View view, const char* flag, std::string& error) {
    if (options.view != View::automatic && options.view != view) {
        error = std::string(flag) + ": only one of --json, --plain, --no-view";
        return false;
    }
    options.view = view;
    return true;
}

bool setNonEmpty(std::string& field, const std::string& value, const char* flag, std::string& error) {
    if (value.empty()) {
        error = std::string(flag) + " needs a value";
        return false;
    }
    field = value;
    return true;
}

bool setOwner(HostOptions& o, const std::string& value, std::string& error) {
    double number = 0;
    if (const passwd* user = getpwnam(value.c_str())) {
        o.watch.owner = user->pw_uid;
    } else if (parseNumber(value, 0, 4294967294.0, number) && number == std::floor(number)) {
        o.watch.owner = static_cast<unsigned>(number);
    } else {
        error = "--owner: \"" + value + "\" is neither a user of this system nor a user number";
        return false;
    }
    o.watch.ownerGiven = true;
    return true;
}

bool setRealtime(HostOptions& o, const std::string& value, std::string& error) {
    o.realtime = kRealtimeDefault;
    if (value.empty() || parseRealtimePriority(value, o.realtime)) return true;
    error = "--realtime: \"" + value + "\" is not a priority from " + std::to_string(kRealtimeLowest) + " to " +
            std::to_string(kRealtimeHighest);
    return false;
}

// PORT or ADDR:PORT (digits after the last ':'), and nothing a file's path
// would look like.
bool looksLikeAddress(const std::string& word) {
    const std::size_t colon = word.rfind(':');
    const std::string port = colon == std::string::npos ? word : word.substr(colon + 1);
    return !word.empty() && word[0] != '-' && word.find('/') == std::string::npos && !port.empty() &&
           port.find_first_not_of("0123456789") == std::string::npos;
}

// Every flag of the three modes. A flag given in a mode that does not take
// it is unknown there.
const Flag kFlags[] = {
    {"--help", kEveryMode | kRelease, Takes::nothing, [](HostOptions& o, const std::string&, std::string&) { return o.help = true; }},
    {"-h", kEveryMode | kRelease, Takes::nothing, [](HostOptions& o, const std::string&, std::string&) { return o.help = true; }},
    {"--version", kEveryMode, Takes::nothing,
     [](HostOptions& o, const std::string&, std::string&) { return o.version = true; }},
    {"--shm", kEveryMode, Takes::value,
     [](HostOptions& o, const std::string& value, std::string& error) {
         if (shmObjectName(value).empty()) {
             error = "--shm: \"" + visibleText(value) + "\" cannot name a shared-memory object (one word, no '/' inside)";
             return false;
         }
         o.shm = o.watch.shm = value;
         return true;
     }},
    {"--duration", kEveryMode, Takes::value,
     [](HostOptions& o, const std::string& value, std::string& error) {
         if (parseNumber(value, 0, 1e7, o.duration)) return true;
         error = "--duration: \"" + visibleText(value) + "\" is not a number of seconds (0 or more; 0: until stopped)";
         return false;
     }},
    {"--json", kRun | kWatch, Takes::nothing,
     [](HostOptions& o, const std::string&, std::string& error) {
         if (!setView(o, View::json, "--json", error)) return false;
         o.watch.json = true;
         return true;
     }},
    {"--shm-group", kRun | kMirror, Takes::value,
     [](HostOptions& o, const std::string& value, std::string& error) {
         if (value.empty()) {
             error = "--shm-group needs a group name";
             return false;
         }
         o.shmGroup = value;
         return true;
     }},
    {"--once", kWatch, Takes::nothing, [](HostOptions& o, const std::string&, std::string&) { return o.watch.once = true; }},
    {"--owner", kWatch, Takes::value, setOwner},
    {"--interval", kWatch, Takes::value,
     [](HostOptions& o, const std::string& value, std::string& error) {
         double number = 0;
         if (!parseNumber(value, 1, 60000, number)) {
             error = "--interval: \"" + value + "\" is not a number of milliseconds from 1 to 60000";
             return false;
         }
         o.watch.intervalMs = static_cast<int>(number);
         return true;
     }},
    {"--listen", kMirror, Takes::value,
     [](HostOptions& o, const std::string& value, std::string& error) {
         return setNonEmpty(o.mirror.listen, value, "--listen", error);
     }},
    {"--from", kMirror, Takes::value,
     [](HostOptions& o, const std::string& value, std::string& error) {
         return setNonEmpty(o.mirror.from, value, "--from", error);
     }},
    {"--osc", kRun, Takes::value,
     [](HostOptions& o, const std::string& value, std::string& error) {
         const std::string problem = oscUrlProblem(value);
         if (!problem.empty()) error = "--osc " + visibleText(problem);
         else o.osc.push_back(value);
         return problem.empty();
     }},
    {"--vrpn", kRun | kMirror, Takes::address,
     [](HostOptions& o, const std::string& value, std::string& error) {
         std::string problem;
         o.vrpn.origin = "--vrpn";
         if (parseVrpnAddress(value, o.vrpn, problem)) return true;
         error = "--vrpn " + visibleText(problem);
         return false;
     }},
    {"--osc-ttl", kRun, Takes::value,
     [](HostOptions& o, const std::string& value, std::string& error) {
         if (parseWhole(value, 1, 255, o.oscTtl)) return true;
         error = "--osc-ttl: \"" + visibleText(value) + "\" is not a number of hops from 1 to 255";
         return false;
     }},
    {"--plain", kRun, Takes::nothing,
     [](HostOptions& o, const std::string&, std::string& error) { return setView(o, View::plain, "--plain", error); }},
    {"--no-view", kRun, Takes::nothing,
     [](HostOptions& o, const std::string&, std::string& error) { return setView(o, View::none, "--no-view", error); }},
    {"--port", kRun, Takes::value, [](HostOptions& o, const std::string& value, std::string&) {
         o.port = value;
         return true;
     }},
    {"--keep-going", kRun, Takes::nothing,
     [](HostOptions& o, const std::string&, std::string&) { return o.keepGoing = true; }},
    {"--debug", kRun, Takes::value,
     [](HostOptions& o, const std::string& value, std::string& error) {
         if (parseWhole(value, 0, 1000, o.debugLevel)) return true;
         error = "--debug: \"" + value + "\" is not a debug level from 0 to 1000";
         return false;
     }},
    {"--realtime", kRun, Takes::number, setRealtime},
    {"--plugin", kRun, Takes::value, [](HostOptions& o, const std::string& value, std::string&) {
         o.plugin = value;
         return true;
     }},
    {"--sim", kRun, Takes::value, [](HostOptions& o, const std::string& value, std::string&) {
         o.sim = value;
         return true;
     }},
    {"--log", kRun, Takes::value,
     [](HostOptions& o, const std::string& value, std::string& error) {
         if (value.empty()) {
             error = "--log needs a file name";
             return false;
         }
         o.log = value;
         return true;
     }},
};

const Flag* findFlag(const std::string& arg, Mode mode) {
    for (const Flag& flag : kFlags)
        if (arg == flag.name && (flag.modes & bitOf(mode)) != 0) return &flag;
    return nullptr;
}

// A word that is no flag: the configuration file, in the mode that has one.
bool takeWord(const std::string& arg, HostOptions& options, std::string& error) {
    const bool flagLike = !arg.empty() && arg[0] == '-';
    if (options.mode == Mode::release) {
        if (!flagLike && options.config.empty()) {
            options.config = arg;
            return true;
        }
        error = flagLike ? "release: unknown option \"" + arg + "\" (see --help)"
                         : "release takes one configuration file, not \"" + arg + "\" too";
        return false;
    }
    if (options.mode != Mode::run) {
        error = std::string(options.mode == Mode::watch ? "watch" : "mirror") + ": unknown option \"" + arg +
                "\" (see --help)";
        return false;
    }
    if (flagLike) {
        error = "unknown option \"" + arg + "\" (see --help)";
        return false;
    }
    if (options.config.empty()) {
        options.config = arg;
        return true;
    }
    error = "only one configuration file, not \"" + options.config + "\" and \"" + arg + "\"";
    return false;
}

// What the modes need beyond single flags, and what they share.
bool completeModes(HostOptions& options, std::string& error) {
    if (options.mode == Mode::watch && options.watch.shm.empty() && !options.help) {
        error = "watch needs --shm NAME";
        return false;
    }
    if (options.mode == Mode::release && options.config.empty() && !options.help) {
        error = "release needs a configuration file";
        return false;
    }
    options.watch.duration = options.duration;
    if (options.mode == Mode::mirror && !options.help) {
        if (options.mirror.listen.empty() || options.shm.empty()) {
            error = "mirror needs --listen PORT|URL and --shm NAME";
            return false;
        }
        options.mirror.shm = options.shm;
        options.mirror.shmGroup = options.shmGroup;
        options.mirror.duration = options.duration;
        options.mirror.vrpn = options.vrpn;
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

}  // namespace

bool parseHostOptions(int argc, const char* const* argv, HostOptions& options, std::string& error) {
    options = HostOptions{};
    int first = 1;
    if (argc > 1 && std::string(argv[1]) == "watch") options.mode = Mode::watch;
    else if (argc > 1 && std::string(argv[1]) == "mirror") options.mode = Mode::mirror;
    else if (argc > 1 && std::string(argv[1]) == "release") options.mode = Mode::release;
    if (options.mode != Mode::run) first = 2;
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        const Flag* flag = findFlag(arg, options.mode);
        if (flag == nullptr) {
            if (!takeWord(arg, options, error)) return false;
            continue;
        }
        std::string value;
        if (flag->takes == Takes::value) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            value = argv[++i];
        } else if (flag->takes == Takes::number && i + 1 < argc && argv[i + 1][0] != '\0' &&
                   std::string(argv[i + 1]).find_first_not_of("0123456789") == std::string::npos) {
            value = argv[++i];
        } else if (flag->takes == Takes::address && i + 1 < argc && looksLikeAddress(argv[i + 1])) {
            value = argv[++i];
        }
        if (!flag->apply(options, value, error)) return false;
    }
    return completeModes(options, error);
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
