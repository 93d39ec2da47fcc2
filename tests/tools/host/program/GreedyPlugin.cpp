// A device plug-in of another make, for the host's tests: it claims every
// controller entry there is and publishes nothing.
#include "plugin/CBase.h"
#include "plugin/InitInfo.h"
#include "storage/CDataStorage.h"

#include <chrono>

class OptionList;
#include <thread>

namespace {

class Greedy final : public CBase {
public:
    explicit Greedy(const CLogH* logger) : CBase(logger) {}
    std::int32_t init(InitInfo* info) override {
        CDataStorage& storage = *info->conStorage;
        if (!storage.lock()) return 0;
        storage.setConDataCount(32);
        storage.unlock();
        return 1;
    }
    bool start() override { return true; }
    std::int32_t configure() override { return 1; }
    bool stop() override { return true; }
    bool printInfo() override { return true; }
    std::int32_t recvData(std::uint8_t*, std::int32_t) override {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return 1;
    }
    std::int32_t sendData(std::int32_t, std::int32_t) override { return 0; }
};

}  // namespace

extern "C" __attribute__((visibility("default"))) CBase* createDev(OptionList*, CLogH* logger) {
    return new Greedy(logger);
}

extern "C" __attribute__((visibility("default"))) bool deleteDev(CBase* device) {
    delete static_cast<Greedy*>(device);
    return true;
}
