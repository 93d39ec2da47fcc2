#include "TmuxTerminal.h"

#include "ChildProcess.h"

#include <atomic>
#include <cstdlib>
#include <sstream>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

TmuxTerminal::TmuxTerminal(int width, int height, const std::vector<std::string>& command) {
    static std::atomic<int> count{0};
    socket_ = "quorlix-test-" + std::to_string(getpid()) + "-" + std::to_string(count++);
    std::vector<std::string> args = {"-f", "/dev/null", "new-session", "-d", "-x", std::to_string(width), "-y",
                                     std::to_string(height), "--"};
    for (const std::string& w : emulatorWords()) args.push_back(w);
    args.insert(args.end(), command.begin(), command.end());
    started_ = tmux(args);
    // The window keeps the size given, whatever clients attach, and what the
    // program wrote last stays on the screen when it ends.
    if (started_) tmux({"set-option", "-g", "window-size", "manual"});
    if (started_) tmux({"set-option", "-g", "remain-on-exit", "on"});
}

TmuxTerminal::~TmuxTerminal() {
    if (!started_) return;
    tmux({"kill-server"});
    // The server may leave its socket behind.
    const char* folder = std::getenv("TMUX_TMPDIR");
    std::string socket = std::string(folder != nullptr && *folder != '\0' ? folder : "/tmp") + "/tmux-" +
                         std::to_string(getuid()) + "/" + socket_;
    ::unlink(socket.c_str());
}

bool TmuxTerminal::type(const std::string& keys) { return tmux({"send-keys", keys}); }

bool TmuxTerminal::tmux(std::vector<std::string> args, std::string* output) {
    args.insert(args.begin(), {"tmux", "-L", socket_});
    int out[2];
    if (pipe(out) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    posix_spawn_file_actions_addclose(&actions, out[1]);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    pid_t pid = -1;
    bool spawned = posix_spawnp(&pid, "tmux", &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    std::string text;
    char buffer[4096];
    ssize_t n;
    while (spawned && (n = ::read(out[0], buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
    ::close(out[0]);
    int status = -1;
    if (spawned) waitpid(pid, &status, 0);
    if (output != nullptr) *output = text;
    return spawned && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::vector<std::string> TmuxTerminal::screen() {
    std::string text;
    std::vector<std::string> rows;
    if (!tmux({"capture-pane", "-p"}, &text)) return rows;
    std::istringstream in(text);
    std::string row;
    while (std::getline(in, row)) rows.push_back(row);
    return rows;
}

bool TmuxTerminal::waitForScreen(const std::function<bool(const std::vector<std::string>&)>& match,
                                 std::chrono::milliseconds limit) {
    auto until = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (match(screen())) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

bool TmuxTerminal::resize(int width, int height) {
    return tmux({"resize-window", "-x", std::to_string(width), "-y", std::to_string(height)});
}

std::string screenText(const std::vector<std::string>& rows) {
    std::string text;
    for (const std::string& r : rows) text += r + "\n";
    return text;
}
