#pragma once

#include <cstddef>
#include <cstdint>

// The host's option lines for one device. The host lays these out; the plug-in
// only reads them and sets `recognised`.
struct OptionEntry {
    static constexpr std::uint32_t kMaxArgs = 64;

    std::uint32_t lineNumber;
    char* name;
    char* args[kMaxArgs];
    std::uint32_t argCount;
    bool recognised;

    // A host may hand over counts beyond the table or null texts; readers go
    // through these so neither can take them out of bounds.
    std::uint32_t usedArgs() const { return argCount < kMaxArgs ? argCount : kMaxArgs; }
    const char* nameText() const { return name != nullptr ? name : ""; }
    // Argument i counted from 1, as option messages count them; "" when absent.
    const char* arg(std::uint32_t i) const {
        return (i >= 1 && i <= usedArgs() && args[i - 1] != nullptr) ? args[i - 1] : "";
    }
};

struct OptionList {
    static constexpr std::uint32_t kMaxEntries = 32;

    std::uint32_t hostField0;
    char* deviceName;
    std::uint8_t hostFields[268];
    OptionEntry entries[kMaxEntries];
    std::uint32_t entryCount;

    std::uint32_t usedEntries() const { return entryCount < kMaxEntries ? entryCount : kMaxEntries; }
};

#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(OptionEntry) == 272, "OptionEntry as the host lays it out");
static_assert(offsetof(OptionEntry, name) == 4 && offsetof(OptionEntry, args) == 8 &&
                  offsetof(OptionEntry, argCount) == 264 && offsetof(OptionEntry, recognised) == 268,
              "OptionEntry fields");
static_assert(sizeof(OptionList) == 8984, "OptionList as the host lays it out");
static_assert(offsetof(OptionList, deviceName) == 4 && offsetof(OptionList, entries) == 276 &&
                  offsetof(OptionList, entryCount) == 8980,
              "OptionList fields");
#endif
