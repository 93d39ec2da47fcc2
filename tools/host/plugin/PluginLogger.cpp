#include "PluginLogger.h"

#include "support/CLogH.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

namespace host {

namespace {

// The logger's fields in their shared order; checked against the plug-in's
// declaration so the two can never drift apart.
struct LoggerImage {
    bool showDate;
    bool showTime;
    bool showThreadId;
    bool enabled;
    char name[100];
    char infoTag[100];
    char errorTag[100];
    char warningTag[100];
    char debugTag[100];
    std::int32_t debugThreshold;
    std::int32_t debugLevel;
    std::int32_t ownDebugLevel;
};

static_assert(sizeof(LoggerImage) == sizeof(CLogH), "logger size");
static_assert(offsetof(LoggerImage, name) == offsetof(CLogH, name) &&
                  offsetof(LoggerImage, infoTag) == offsetof(CLogH, infoTag) &&
                  offsetof(LoggerImage, errorTag) == offsetof(CLogH, errorTag) &&
                  offsetof(LoggerImage, warningTag) == offsetof(CLogH, warningTag) &&
                  offsetof(LoggerImage, debugTag) == offsetof(CLogH, debugTag) &&
                  offsetof(LoggerImage, debugThreshold) == offsetof(CLogH, debugThreshold) &&
                  offsetof(LoggerImage, debugLevel) == offsetof(CLogH, debugLevel) &&
                  offsetof(LoggerImage, ownDebugLevel) == offsetof(CLogH, ownDebugLevel) &&
                  offsetof(LoggerImage, enabled) == offsetof(CLogH, enabled),
              "logger fields");

void setText(char (&field)[100], const std::string& text) {
    std::strncpy(field, text.c_str(), sizeof field - 1);
    field[sizeof field - 1] = '\0';
}

}  // namespace

void LoggerRelease::operator()(CLogH* logger) const { ::operator delete(static_cast<void*>(logger)); }

LoggerPtr makePluginLogger(const LoggerSettings& settings, const std::string& name) {
    LoggerImage image{};
    image.showDate = settings.showDate;
    image.showTime = settings.showTime;
    image.showThreadId = settings.showThreadId;
    image.enabled = settings.enabled;
    setText(image.name, name);
    setText(image.infoTag, "INFO");
    setText(image.errorTag, "ERROR");
    setText(image.warningTag, "WARNING");
    setText(image.debugTag, "DEBUG");
    image.debugThreshold = settings.debugThreshold;
    image.debugLevel = settings.debugLevel;
    image.ownDebugLevel = 0;
    // The logger is trivially copyable: copying its bytes into fresh storage
    // makes a logger, as the plug-in's own copy of it does.
    void* storage = ::operator new(sizeof(CLogH));
    std::memcpy(storage, &image, sizeof image);
    return LoggerPtr(std::launder(static_cast<CLogH*>(storage)));
}

}  // namespace host
