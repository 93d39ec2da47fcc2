#pragma once

#include <cstddef>
#include <cstdint>

// Levelled logger. Hosts hand one over as raw bytes and every owner copies it
// whole, so the layout below is shared with the host and must not move.
class CLogH {
public:
    static constexpr std::size_t kTextSize = 100;

    CLogH();

    void setName(const char* newName);
    void setDebugThreshold(const std::int32_t& level);
    void setOwnDebugLevel(const std::int32_t& level);

    bool isDebugOn() const;

    // The logger a part owns: a copy of the one it was given, or a new one
    // under `nameWhenNone`, answering debug messages of `ownLevel`.
    static CLogH* ownCopy(const CLogH* source, const char* nameWhenNone, std::int32_t ownLevel);

    void info(const char* message, const bool& endLine) const;
    void error(const char* message, const bool& endLine) const;
    void warning(const char* message, const bool& endLine) const;
    void debug(const char* message, const bool& endLine) const;
    // Never ends the line: the format carries its own "\n" where one is wanted.
    void debugFormat(const char* format, ...) const
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    bool showDate;
    bool showTime;
    bool showThreadId;
    bool enabled;
    char name[kTextSize];
    char infoTag[kTextSize];
    char errorTag[kTextSize];
    char warningTag[kTextSize];
    char debugTag[kTextSize];
    std::int32_t debugThreshold;
    std::int32_t debugLevel;
    std::int32_t ownDebugLevel;

private:
    void write(const char* tag, const char* message, bool endLine) const;
    void writePrefix() const;
};

static_assert(sizeof(CLogH) == 516, "CLogH is shared with the host byte for byte");
static_assert(offsetof(CLogH, showDate) == 0 && offsetof(CLogH, showTime) == 1 &&
                  offsetof(CLogH, showThreadId) == 2 && offsetof(CLogH, enabled) == 3,
              "CLogH switches");
static_assert(offsetof(CLogH, name) == 4 && offsetof(CLogH, infoTag) == 104 &&
                  offsetof(CLogH, errorTag) == 204 && offsetof(CLogH, warningTag) == 304 &&
                  offsetof(CLogH, debugTag) == 404,
              "CLogH texts");
static_assert(offsetof(CLogH, debugThreshold) == 504 && offsetof(CLogH, debugLevel) == 508 &&
                  offsetof(CLogH, ownDebugLevel) == 512,
              "CLogH levels");
