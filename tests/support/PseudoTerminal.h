#pragma once

#include <cstddef>
#include <string>

// A pseudo-terminal pair standing in for a serial line: the code under test
// opens the line by name(); the test plays the far end on the master side.
// The test's own descriptor of the line stays open so its settings can be
// inspected with tcgetattr(line()).
class PseudoTerminal {
public:
    PseudoTerminal();
    ~PseudoTerminal();
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    bool ok() const { return master_ >= 0; }
    const std::string& name() const { return name_; }
    int line() const { return line_; }

    // Sends bytes from the far end; true when all were written.
    bool send(const void* bytes, std::size_t count);
    bool send(const std::string& bytes) { return send(bytes.data(), bytes.size()); }

    // The far end goes away, like an unplugged adapter.
    void hangUp();

private:
    int master_ = -1;
    int line_ = -1;
    std::string name_;
};
