// quorlix-sim: a Quorlix wand on a pseudo-terminal or a serial device.
#include "DemoScript.h"
#include "InteractiveKeys.h"
#include "LineSink.h"
#include "PortLink.h"
#include "ScriptParser.h"
#include "ScriptRunner.h"
#include "SimOptions.h"
#include "WandLine.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#ifndef QUORLIX_VERSION
#define QUORLIX_VERSION "unknown"
#endif

namespace {

std::atomic<bool> gStop{false};

extern "C" void onSignal(int) { gStop.store(true); }

void installSignals() {
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a write blocked on a full line must return and see the flag.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

int fail(const std::string& message, int status = 1) {
    std::fprintf(stderr, "quorlix-sim: %s\n", message.c_str());
    return status;
}

bool readAll(const std::string& path, std::string& text, std::string& error) {
    if (path == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
        return true;
    }
    struct stat info {};
    if (stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode)) {
        error = path + ": is a directory, not a file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    text = buffer.str();
    return true;
}

std::FILE* openOutput(const std::string& path, std::string& error) {
    if (path.empty()) return nullptr;
    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) error = path + ": " + std::strerror(errno);
    return f;
}

// Where and when a capture was taken, for the comment under its header.
std::string captureAbout(const sim::SimOptions& options, const std::string& port) {
    std::string from;
    switch (options.mode) {
    case sim::SimOptions::Mode::script: from = "--script " + options.source; break;
    case sim::SimOptions::Mode::inline_: from = "-e"; break;
    case sim::SimOptions::Mode::demo: from = "--demo"; break;
    case sim::SimOptions::Mode::replay: from = "--replay " + options.source; break;
    case sim::SimOptions::Mode::raw: from = "--raw " + options.source; break;
    case sim::SimOptions::Mode::forward: from = "--forward " + options.source; break;
    default: from = "--interactive"; break;
    }
    std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
    std::tm utc{};
    char when[32] = "at an unknown time";
    if (gmtime_r(&now, &utc) != nullptr) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", &utc);
    return std::string("taken ") + when + " from " + from + ", sent on " + port;
}

std::string heldText(sim::ButtonSet held) {
    std::string text;
    for (int b = 1; b <= sim::kButtonCount; ++b) text += held.contains(b) ? std::to_string(b) + " " : ". ";
    return text;
}

// Keys at the terminal; the terminal is put back as it was on return.
bool runInteractive(sim::ScriptRunner& runner) {
    termios saved{};
    bool tty = isatty(STDIN_FILENO) && tcgetattr(STDIN_FILENO, &saved) == 0;
    if (tty) {
        termios raw = saved;
        raw.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO | ISIG);
        raw.c_cc[VMIN] = 1;
        raw.c_cc[VTIME] = 0;
        tcsetattr(STDIN_FILENO, TCSANOW, &raw);
    }
    std::fputs(sim::kKeyHelp, stderr);
    bool ok = true;
    while (!gStop.load()) {
        pollfd p{STDIN_FILENO, POLLIN, 0};
        int ready = poll(&p, 1, 200);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        char key = 0;
        if (read(STDIN_FILENO, &key, 1) != 1) break;
        sim::KeyAction action = sim::keyAction(key);
        if (action.kind == sim::KeyAction::Kind::quit) break;
        if (action.kind == sim::KeyAction::Kind::help) {
            std::fputs(sim::kKeyHelp, stderr);
            continue;
        }
        if (action.kind == sim::KeyAction::Kind::toggle) ok = runner.toggle(action.button);
        else if (action.kind == sim::KeyAction::Kind::releaseAll) ok = runner.releaseAll();
        else if (action.kind == sim::KeyAction::Kind::text) ok = runner.sendText("OK");
        else continue;
        if (!ok) break;
        std::fprintf(stderr, "\rheld: %s  ", heldText(runner.held()).c_str());
    }
    std::fputs("\r\n", stderr);
    if (tty) tcsetattr(STDIN_FILENO, TCSANOW, &saved);
    return ok;
}

// Passes on what a real wand sends, in the chunks it arrives in.
bool runForward(const sim::SimOptions& options, sim::ScriptSink& sink, std::string& error) {
    int fd = ::open(options.source.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 || !sim::configureRaw(fd, options.baud)) {
        error = options.source + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return false;
    }
    // Held as a host holds its line: nothing else takes the wand's bytes, and
    // a simulated wand on the far end starts once it sees the line held.
    ::ioctl(fd, TIOCEXCL, nullptr);
    bool ok = true;
    while (!gStop.load()) {
        pollfd p{fd, POLLIN, 0};
        int ready = poll(&p, 1, 200);
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) continue;
        std::uint8_t buffer[256];
        ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            error = options.source + ": the device is gone";
            ok = false;
            break;
        }
        if (!sink.send(sim::Bytes(buffer, buffer + n))) break;
    }
    ::ioctl(fd, TIOCNXCL, nullptr);
    ::close(fd);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    sim::SimOptions options;
    std::string error;
    if (!sim::parseSimOptions(argc, argv, options, error)) return fail(error, 2);
    if (options.help) {
        std::fputs(sim::kSimUsage, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("quorlix-sim %s\n", QUORLIX_VERSION);
        return 0;
    }
    if (options.mode == sim::SimOptions::Mode::none) {
        if (!isatty(STDIN_FILENO))
            return fail("nothing to send: give --script, -e, --demo, --interactive, --replay, --raw or --forward", 2);
        options.mode = sim::SimOptions::Mode::interactive;
    }

    // Everything that can be refused is checked before the line exists.
    sim::Script script;
    std::string raw;
    const bool replay = options.mode == sim::SimOptions::Mode::replay;
    if (options.mode == sim::SimOptions::Mode::script || options.mode == sim::SimOptions::Mode::inline_ ||
        options.mode == sim::SimOptions::Mode::demo || replay) {
        std::string text = options.source;
        std::string where = "-e";
        if (options.mode == sim::SimOptions::Mode::demo) {
            text = sim::kDemoScript;
            where = "demo";
        } else if (options.mode != sim::SimOptions::Mode::inline_) {
            where = options.source == "-" ? "stdin" : options.source;
            if (!readAll(options.source, text, error)) return fail(error, 2);
        }
        // A script or a byte dump would play as something else than was taken.
        if (replay && !sim::isCapture(text))
            return fail("--replay " + options.source + ": not a capture written by --capture (its first line is not \"" +
                            sim::kCaptureHeader + "\"); play a script with --script, send raw bytes with --raw",
                        2);
        sim::ParseError parseError;
        if (!sim::parseScript(text, script, parseError))
            return fail(where + ":" + std::to_string(parseError.line) + ": " + parseError.what, 2);
    } else if (options.mode == sim::SimOptions::Mode::raw) {
        if (!readAll(options.source, raw, error)) return fail(error, 2);
        if (sim::isCapture(raw))
            return fail("--raw " + options.source +
                            ": a capture written by --capture, not raw bytes; replay it with --replay",
                        2);
    }
    // A mistyped --link must not cost the file that is there.
    if (options.port.empty() && !options.link.empty() && !sim::mayReplaceLink(options.link, "", error))
        return fail(error, 2);
    std::FILE* capture = openOutput(options.capture, error);
    if (!options.capture.empty() && capture == nullptr) return fail(error, 2);
    std::FILE* stamps = openOutput(options.stamps, error);
    if (!options.stamps.empty() && stamps == nullptr) return fail(error, 2);

    installSignals();
    std::unique_ptr<sim::WandLine> line = options.port.empty()
                                              ? sim::WandLine::openPty(options.link, error)
                                              : sim::WandLine::openDevice(options.port, options.baud, error);
    if (!line) return fail(error);
    std::printf("%s\n", line->portName().c_str());
    std::fflush(stdout);
    // A program that started us and reads our output (the host's demo) may
    // end without stopping us: when the pipe's reader is gone, so are we.
    std::atomic<bool> finished{false};
    // Stop signals go to the main thread alone, so that they interrupt its
    // waits (a script's "wait 10s" included); this thread wakes it the same way.
    const pthread_t mainThread = pthread_self();
    sigset_t stops, previous;
    sigemptyset(&stops);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, s);
    pthread_sigmask(SIG_BLOCK, &stops, &previous);
    std::thread readerWatch([&finished, mainThread] {
        struct stat out {};
        if (fstat(STDOUT_FILENO, &out) != 0 || !S_ISFIFO(out.st_mode)) return;
        while (!finished.load() && !gStop.load()) {
            pollfd p{STDOUT_FILENO, 0, 0};
            if (poll(&p, 1, 200) > 0 && (p.revents & (POLLERR | POLLHUP))) {
                gStop.store(true);
                pthread_kill(mainThread, SIGHUP);
            }
        }
    });
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);

    sim::LineSink lineSink(*line, gStop);
    lineSink.setPace(options.pace);
    lineSink.setStamps(stamps);
    if (options.verbose) lineSink.setTrace(stderr);
    lineSink.setWaitForReader(line->isPty() && options.waitForHost);

    if (line->isPty() && options.waitForHost) {
        if (!options.quiet) std::fprintf(stderr, "quorlix-sim: waiting for a host to open %s\n", line->portName().c_str());
        line->waitForReader(gStop, std::chrono::milliseconds(1000));
    }
    // Begun once a host listens: the capture's first wait is the wand's, not
    // how long the host took to start.
    std::unique_ptr<sim::CaptureSink> captureSink;
    if (capture != nullptr)
        captureSink.reset(new sim::CaptureSink(lineSink, capture, captureAbout(options, line->portName())));
    sim::ScriptSink& sink = captureSink ? static_cast<sim::ScriptSink&>(*captureSink) : lineSink;
    sim::ScriptRunner runner(sink);

    bool ok = true;
    std::string runError;
    switch (options.mode) {
    case sim::SimOptions::Mode::interactive:
        ok = runInteractive(runner);
        break;
    case sim::SimOptions::Mode::raw:
        ok = sink.send(sim::Bytes(raw.begin(), raw.end()));
        break;
    case sim::SimOptions::Mode::forward:
        ok = runForward(options, sink, runError);
        break;
    default:
        ok = runner.run(script);
        if (!ok && !gStop.load() && runner.failedLine() != 0)
            runError = "script line " + std::to_string(runner.failedLine()) + ": " + lineSink.error();
        break;
    }
    if (!ok && !gStop.load() && runError.empty()) runError = lineSink.error();
    // Keys and forwarding end by a signal; anything else stopped by one did
    // not send everything, and must not claim it did.
    const bool cutShort = gStop.load() && options.mode != sim::SimOptions::Mode::interactive &&
                          options.mode != sim::SimOptions::Mode::forward;
    // A program that runs us quietly (the host's demo) stops us on purpose.
    if (cutShort && runError.empty() && !options.quiet) runError = "stopped by a signal before everything was sent";

    if (line->plugged() && !cutShort) line->drain(options.linger, gStop);
    // Tells a program that started the simulator that everything was sent.
    if (!cutShort) {
        std::printf("done\n");
        std::fflush(stdout);
    }
    while (options.stay && !gStop.load()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    finished.store(true);
    readerWatch.join();

    if (stamps != nullptr) std::fclose(stamps);
    if (capture != nullptr) std::fclose(capture);
    if (!runError.empty()) return fail(runError);
    if (cutShort) return 1;
    // Bytes passed on as they came are not counted as records: their chunks need not be records.
    const bool framed = options.mode != sim::SimOptions::Mode::replay && options.mode != sim::SimOptions::Mode::raw &&
                        options.mode != sim::SimOptions::Mode::forward;
    if (!options.quiet && framed)
        std::fprintf(stderr, "quorlix-sim: sent %llu records (%llu bytes)\n",
                     static_cast<unsigned long long>(runner.counts().records),
                     static_cast<unsigned long long>(lineSink.bytesSent()));
    else if (!options.quiet)
        std::fprintf(stderr, "quorlix-sim: sent %llu bytes\n", static_cast<unsigned long long>(lineSink.bytesSent()));
    return 0;
}
