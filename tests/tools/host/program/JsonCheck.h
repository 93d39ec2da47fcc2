#pragma once

#include <string>

// True when `text` is exactly one JSON value (RFC 8259), strings in valid
// UTF-8 and free of raw control characters: what a JSON Lines reader accepts.
bool isJsonValue(const std::string& text);
