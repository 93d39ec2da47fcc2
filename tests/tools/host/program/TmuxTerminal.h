#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <vector>

// A real terminal of a given size for a program of this build: a tmux
// session on a server of its own (no user's sessions are touched), read back
// with capture-pane as a user would see it, also after the program ended.
// The server goes with the object.
class TmuxTerminal {
public:
    TmuxTerminal(int width, int height, const std::vector<std::string>& command);
    ~TmuxTerminal();
    TmuxTerminal(const TmuxTerminal&) = delete;
    TmuxTerminal& operator=(const TmuxTerminal&) = delete;

    bool started() const { return started_; }
    // The screen as shown now, one string per row.
    std::vector<std::string> screen();
    // Waits until the screen satisfies `match`; false after `limit`.
    bool waitForScreen(const std::function<bool(const std::vector<std::string>&)>& match,
                       std::chrono::milliseconds limit);
    // A new size, as a user dragging the window: the program gets SIGWINCH.
    bool resize(int width, int height);
    // Keys as a user types them, in tmux's names ("C-c").
    bool type(const std::string& keys);

private:
    bool tmux(std::vector<std::string> args, std::string* output = nullptr);

    std::string socket_;
    bool started_ = false;
};

// The rows joined with line ends, for messages.
std::string screenText(const std::vector<std::string>& rows);
