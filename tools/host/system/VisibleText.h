// system/: what the host asks of the system: child programs, /proc, stop signals, its messages, whole writes.
#pragma once

#include <string>

namespace host {

// Text from devices and the wire as a terminal may show it: control bytes,
// terminal controls of eight bits, invisible format characters, line and
// direction controls, and bytes that are not UTF-8 become \xNN, so nothing
// that passes through can retitle, clear or move the screen, reorder the
// line or hide in a name.
std::string visibleText(const std::string& text);

// The length of the character at text[at] when a terminal shows it as
// itself (printable, and not one of the characters above), 0 otherwise.
std::size_t visibleAt(const std::string& text, std::size_t at);

// The length of the printable character at text[at] (UTF-8, no control), 0
// when there is none.
std::size_t printableAt(const std::string& text, std::size_t at);

// The length of the UTF-8 sequence that starts text[at], 0 when none does.
std::size_t utf8SequenceAt(const std::string& text, std::size_t at);

// The character of the UTF-8 sequence of `length` bytes at text[at].
char32_t codePointAt(const std::string& text, std::size_t at, std::size_t length);

}  // namespace host
