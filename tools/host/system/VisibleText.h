// system/: what the host asks of the system: child programs, /proc, stop signals, its messages, whole writes.
#pragma once

#include <string>

namespace host {

// Text from devices and the wire as a terminal may show it: control bytes,
// terminal controls of eight bits and bytes that are not UTF-8 become \xNN,
// so nothing that passes through can retitle, clear or move the screen.
std::string visibleText(const std::string& text);

// The length of the printable character at text[at] (UTF-8, no control), 0
// when there is none.
std::size_t printableAt(const std::string& text, std::size_t at);

// The length of the UTF-8 sequence that starts text[at], 0 when none does.
std::size_t utf8SequenceAt(const std::string& text, std::size_t at);

}  // namespace host
