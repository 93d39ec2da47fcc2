#pragma once

#include "plugin/CBase.h"
#include "plugin/InitInfo.h"
#include "storage/ConData.h"
#include "storage/TraData.h"

#include <cstdint>

class CConCommonH;
class CRS232H;
class CTraCommonH;
struct OptionList;

// The Quorlix wand: 11 buttons and two button-driven valuators on an RS-232 line.
class CQuorlix final : public CBase {
public:
    static constexpr int kValuators = 2;
    static constexpr int kButtons = 11;

    CQuorlix(OptionList* config, const CLogH* hostLogger);
    ~CQuorlix();

    std::int32_t init(InitInfo* info) override;
    bool start() override;
    std::int32_t configure() override;
    bool stop() override;
    bool printInfo() override;
    std::int32_t recvData(std::uint8_t* masks, std::int32_t unused) override;
    std::int32_t sendData(std::int32_t first, std::int32_t second) override;

private:
    // init's steps and recvData's stages.
    std::int32_t initSteps(InitInfo* info);
    bool parseOwnOptions();
    bool setUpTrackerEmulation();
    bool claimControllerEntry();
    void prepareControllerRecords();
    bool openSerialPort();
    bool keepRunning() const;
    // 1 with a byte, 0 on a time-out, -1 after a failed read (reported).
    int readByte(std::uint8_t& byte);
    bool publishController(std::uint8_t* controllerMask);
    bool publishTracker(std::uint8_t* trackerMask);

    CRS232H* port;
    char* deviceName;
    char* portName;
    std::int32_t baudRate;
    float valIncrementRate;
    float valDecrementRate;
    bool decrementRateGiven;
    InitInfo initInfo;
    TraData* traEntry;
    TraData traLast;
    TraData traWork;
    ConData* conEntry;
    ConData conLast;
    ConData conWork;
    std::int32_t wandControllerCount;
    std::int32_t wandValuatorCount;
    std::int32_t wandButtonCount;
    std::int32_t* runFlag;
    float valuatorValues[kValuators];
    std::int32_t buttonStates[kButtons];
    OptionList* config;
    CTraCommonH* traCommon;
    CConCommonH* conCommon;
    std::int32_t emulatedTrackers;
    // Set only when init ran to its end: recvData needs the port, the
    // controller part and the storages that init sets up.
    bool initSucceeded;
};
