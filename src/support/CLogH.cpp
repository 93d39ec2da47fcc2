#include "support/CLogH.h"

#include "platform/ThreadId.h"
#include "platform/WallClock.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>

namespace {

void copyText(char (&field)[CLogH::kTextSize], const char* text) {
    // Keep one byte for the terminator so the field is always a valid text.
    std::strncpy(field, text != nullptr ? text : "", CLogH::kTextSize - 1);
    field[CLogH::kTextSize - 1] = '\0';
}

// A host may fill a field without a terminator; never read past the field.
void writeField(const char* field) {
    std::cout.write(field, static_cast<std::streamsize>(strnlen(field, CLogH::kTextSize)));
}

}  // namespace

CLogH::CLogH()
    : showDate(true),
      showTime(true),
      showThreadId(true),
      enabled(true),
      name{},
      infoTag{},
      errorTag{},
      warningTag{},
      debugTag{},
      debugThreshold(1),
      debugLevel(0),
      ownDebugLevel(0) {
    copyText(name, "MESSAGE");
    copyText(infoTag, "INFO");
    copyText(errorTag, "ERROR");
    copyText(warningTag, "WARNING");
    copyText(debugTag, "DEBUG");
}

void CLogH::setName(const char* newName) { copyText(name, newName); }

void CLogH::setDebugThreshold(const std::int32_t& level) { debugThreshold = level; }

void CLogH::setOwnDebugLevel(const std::int32_t& level) { ownDebugLevel = level; }

bool CLogH::isDebugOn() const {
    return debugLevel != 0 && (debugLevel == ownDebugLevel || debugLevel >= debugThreshold);
}

CLogH* CLogH::ownCopy(const CLogH* source, const char* nameWhenNone, std::int32_t ownLevel) {
    CLogH* copy = source != nullptr ? new CLogH(*source) : new CLogH();
    if (source == nullptr) copy->setName(nameWhenNone);
    copy->setOwnDebugLevel(ownLevel);
    return copy;
}

void CLogH::info(const char* message, const bool& endLine) const {
    if (enabled) write(infoTag, message, endLine);
}

void CLogH::error(const char* message, const bool& endLine) const {
    if (enabled) write(errorTag, message, endLine);
}

void CLogH::warning(const char* message, const bool& endLine) const {
    if (enabled) write(warningTag, message, endLine);
}

void CLogH::debug(const char* message, const bool& endLine) const {
    if (enabled && isDebugOn()) write(debugTag, message, endLine);
}

void CLogH::debugFormat(const char* format, ...) const {
    if (!enabled) return;
    char text[256] = {};
    if (format != nullptr) {
        va_list args;
        va_start(args, format);
        std::vsnprintf(text, sizeof text, format, args);
        va_end(args);
    }
    if (!isDebugOn()) return;
    write(debugTag, text, false);
}

void CLogH::writePrefix() const {
    char format[16] = "";
    if (showDate) std::strcat(format, "%b %d ");
    if (showTime) std::strcat(format, "%X ");
    if (format[0] != '\0') {
        std::tm local{};
        if (platform::toLocalTime(platform::readClock().seconds, local)) {
            char stamp[100];
            std::size_t n = std::strftime(stamp, sizeof stamp, format, &local);
            std::cout.write(stamp, static_cast<std::streamsize>(n));
        }
    }
    writeField(name);
    if (showThreadId) {
        std::cout << '[' << platform::currentThreadId() << "]: ";
    } else {
        std::cout << ": ";
    }
}

void CLogH::write(const char* tag, const char* message, bool endLine) const {
    writePrefix();
    writeField(tag);
    std::cout << ": " << (message != nullptr ? message : "");
    if (endLine) std::cout << std::endl;
}
