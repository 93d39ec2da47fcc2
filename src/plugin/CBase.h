#pragma once

#include <cstdint>

class CLogH;
struct InitInfo;

// The device as the host sees it: exactly these seven slots, in this order.
// No virtual destructor: it would add slots the host does not expect, so
// destruction goes through deleteDev, which knows the concrete class.
class CBase {
public:
    virtual std::int32_t init(InitInfo* info) = 0;
    virtual bool start() = 0;
    virtual std::int32_t configure() = 0;
    virtual bool stop() = 0;
    virtual bool printInfo() = 0;
    virtual std::int32_t recvData(std::uint8_t* masks, std::int32_t unused) = 0;
    virtual std::int32_t sendData(std::int32_t first, std::int32_t second) = 0;

protected:
    explicit CBase(const CLogH* hostLogger);
    ~CBase();
    CBase(const CBase&) = delete;
    CBase& operator=(const CBase&) = delete;

    std::int32_t reserved;
    bool ownsLogger;
    CLogH* logger;
    bool inputConnector;
    std::int32_t configureResult;
};
