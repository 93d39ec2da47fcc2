#include "SimOptions.h"

#include "ScriptParser.h"

#include <cstdlib>
#include <cstring>

namespace sim {

const char* const kSimUsage =
    "usage: quorlix-sim [options] (--script FILE | -e SCRIPT | --demo | --interactive | --replay FILE |\n"
    "                              --raw FILE | --forward DEVICE)\n"
    "\n"
    "Speaks the Quorlix wand's serial protocol on a new pseudo-terminal, whose path it prints\n"
    "on the first line of standard output, or on a real serial device. When everything was\n"
    "sent and read it prints \"done\".\n"
    "\n"
    "To record a real wand, put the simulator between it and the host with\n"
    "--forward DEVICE --capture FILE; --replay FILE plays the session again.\n"
    "\n"
    "What to send (one of):\n"
    "  --script FILE     run a script file (\"-\" reads it from standard input)\n"
    "  -e SCRIPT         run an inline script, e.g. -e \"press 8; wait 100ms; release\"\n"
    "  --demo            run the built-in demo script\n"
    "  --interactive     keys at the terminal press buttons (the default on a terminal)\n"
    "  --replay FILE     play a capture written by --capture again, with its timing\n"
    "  --raw FILE        send a file's bytes as they are, all at once (with --pace: at\n"
    "                    the line rate)\n"
    "  --forward DEVICE  pass on what a real wand on DEVICE sends (use with --capture)\n"
    "\n"
    "Script commands (one per line or separated by ';', # starts a comment):\n"
    "  press N [M...]    press buttons 1-11 (added to those held) and send a key record\n"
    "  release [N...]    release the buttons named, or all, and send a key record\n"
    "  hold N [M...] for TIME   press, wait, release\n"
    "  wait TIME         e.g. 100ms, 2s, 1.5s\n"
    "  text WORDS        send a text/ACK record\n"
    "  raw HH HH ...     send bytes as they are, e.g. raw 80 01 10 8F\n"
    "  repeat N { ... }  run the block N times\n"
    "  unplug / plug     take the line away as a pulled adapter would, and bring it back\n"
    "\n"
    "Line:\n"
    "  --port DEVICE     use a real serial device instead of a pseudo-terminal\n"
    "  --baud RATE       line rate of --port and --forward devices (default 9600)\n"
    "  --link PATH       keep a symbolic link at PATH to the current pseudo-terminal;\n"
    "                    only such a link (one to a pseudo-terminal) is replaced there,\n"
    "                    anything else at PATH is refused (status 2), and the link is\n"
    "                    removed at the end only if it still points where it was put\n"
    "  --pace RATE       pace bytes at a line rate, e.g. --pace 9600 (default: unpaced)\n"
    "  --no-wait         do not wait for a host to open the line (at the start and after plug)\n"
    "  --stay            keep the line open after the script until interrupted\n"
    "  --linger TIME     after the script, wait at most this long for the host to read\n"
    "                    everything (default 2s; 0: not at all)\n"
    "\n"
    "Output:\n"
    "  --capture FILE    write everything sent as a capture for --replay: a script that\n"
    "                    replays it with its timing, whose first line is\n"
    "                    \"# quorlix-sim capture 1\"\n"
    "  --stamps FILE     write the monotonic time (ns) at which the write of each record's\n"
    "                    last byte began\n"
    "  -v, --verbose     show each write on standard error\n"
    "  -q, --quiet       no messages but errors; a stop by a signal before the end is told\n"
    "                    by the exit status (1) alone\n"
    "  --help, --version\n";

namespace {

bool parseRate(const char* text, int& out) {
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || value < 0 || value > 4000000) return false;
    out = static_cast<int>(value);
    return true;
}

}  // namespace

bool parseSimOptions(int argc, const char* const* argv, SimOptions& options, std::string& error) {
    options = SimOptions{};
    auto setMode = [&](SimOptions::Mode mode, const std::string& source, const char* flag) {
        if (options.mode != SimOptions::Mode::none) {
            if (mode == SimOptions::Mode::inline_ && options.mode == mode) {
                options.source += "\n" + source;
                return true;
            }
            error = std::string(flag) + ": only one of --script, -e, --demo, --interactive, --replay, --raw, --forward";
            return false;
        }
        options.mode = mode;
        options.source = source;
        return true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char*& out) {
            if (i + 1 >= argc) {
                error = arg + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        if (arg == "--help" || arg == "-h") options.help = true;
        else if (arg == "--version") options.version = true;
        else if (arg == "--script") {
            if (!value(v) || !setMode(SimOptions::Mode::script, v, "--script")) return false;
        } else if (arg == "-e" || arg == "--exec") {
            if (!value(v) || !setMode(SimOptions::Mode::inline_, v, "-e")) return false;
        } else if (arg == "--demo") {
            if (!setMode(SimOptions::Mode::demo, "", "--demo")) return false;
        } else if (arg == "--interactive") {
            if (!setMode(SimOptions::Mode::interactive, "", "--interactive")) return false;
        } else if (arg == "--replay") {
            if (!value(v) || !setMode(SimOptions::Mode::replay, v, "--replay")) return false;
        } else if (arg == "--raw") {
            if (!value(v) || !setMode(SimOptions::Mode::raw, v, "--raw")) return false;
        } else if (arg == "--forward") {
            if (!value(v) || !setMode(SimOptions::Mode::forward, v, "--forward")) return false;
        } else if (arg == "--port") {
            if (!value(v)) return false;
            options.port = v;
        } else if (arg == "--link") {
            if (!value(v)) return false;
            options.link = v;
        } else if (arg == "--baud" || arg == "--pace") {
            if (!value(v)) return false;
            int rate = 0;
            bool off = arg == "--pace" && std::strcmp(v, "off") == 0;
            if (!off && (!parseRate(v, rate) || rate == 0)) {
                error = arg + ": \"" + v + "\" is not a line rate";
                return false;
            }
            (arg == "--baud" ? options.baud : options.pace) = rate;
        } else if (arg == "--capture") {
            if (!value(v)) return false;
            options.capture = v;
        } else if (arg == "--stamps") {
            if (!value(v)) return false;
            options.stamps = v;
        } else if (arg == "--linger") {
            if (!value(v)) return false;
            Duration d{};
            // "0" needs no unit: do not wait at all.
            if (std::strcmp(v, "0") != 0 && !parseDuration(v, d)) {
                error = std::string("--linger: \"") + v + "\" is not a time (e.g. 2s)";
                return false;
            }
            options.linger = std::chrono::duration_cast<std::chrono::milliseconds>(d);
        } else if (arg == "--stay") options.stay = true;
        else if (arg == "--no-wait") options.waitForHost = false;
        else if (arg == "-v" || arg == "--verbose") options.verbose = true;
        else if (arg == "-q" || arg == "--quiet") options.quiet = true;
        else {
            error = "unknown option \"" + arg + "\" (see --help)";
            return false;
        }
    }
    if (!options.port.empty() && !options.link.empty()) {
        error = "--link only applies to a pseudo-terminal, not to --port";
        return false;
    }
    return true;
}

}  // namespace sim
