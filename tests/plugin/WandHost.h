#pragma once

#include "CaptureStdout.h"
#include "PseudoTerminal.h"
#include "TestOptions.h"
#include "TestStorages.h"
#include "plugin/CBase.h"

#include <cstdint>
#include <string>
#include <set>
#include <vector>

extern "C" CBase* createDev(OptionList* config, CLogH* hostLogger);
extern "C" bool deleteDev(CBase* device);

// A host for one wand: its option lines, logger, storages, keep-running flag
// and change masks, and the wand's end of a pseudo-terminal line. Everything
// the device writes to standard output is captured.
class WandHost;

// The buttons a controller entry shows pressed.
std::set<int> pressed(const WandHost& host, std::uint32_t entry = 1);

class WandHost {
public:
    // debugLevel 1 shows the device's own DEBUG lines (its own level is 1).
    explicit WandHost(std::int32_t debugLevel = 0);
    ~WandHost();
    WandHost(const WandHost&) = delete;
    WandHost& operator=(const WandHost&) = delete;

    // Option line "port <the pty>" as line 1, then the given lines from line 2 on.
    WandHost& withPortAnd(const std::vector<std::string>& lines);
    // Creates the device and runs init.
    std::int32_t start();
    std::int32_t recv();

    void send(const std::vector<std::uint8_t>& bytes);
    // Bytes sent that the device has not read yet.
    int pending() const;
    std::string output() const { return out.text(); }
    void clearOutput() { out.clear(); }

    // The shared records as the host reads them.
    const ConData& conEntry(std::uint32_t n) const { return storages.conRecords[n - 1]; }
    const TraData& traEntry(std::uint32_t n) const { return storages.traRecords[n - 1]; }
    bool button(std::uint32_t entry, std::uint32_t b) const;
    // Valuator v of an entry in thousandths, as stored.
    std::int32_t valuator(std::uint32_t entry, std::uint32_t v) const;
    bool controllerChanged(std::uint32_t n) const { return bitOf(masks + 4, n); }
    bool trackerChanged(std::uint32_t n) const { return bitOf(masks, n); }
    bool masksClear() const;

    CaptureStdout out;
    TestOptions options;
    CLogH logger;
    TestStorages storages;
    PseudoTerminal line;
    std::int32_t runFlag = 1;
    std::uint8_t masks[8] = {};
    InitInfo info{};
    CBase* device = nullptr;

private:
    static bool bitOf(const std::uint8_t* mask, std::uint32_t n);
    std::uint32_t nextLine_ = 1;
};

// Key record bytes: header, body, terminator.
std::vector<std::uint8_t> keyRecord(const std::vector<std::uint8_t>& body, std::uint8_t header = 0x80);
