#include "platform/Export.h"
#include "plugin/CQuorlix.h"

#include <new>

// The host's only way in. Nothing may throw across this boundary.
extern "C" QUORLIX_EXPORT CBase* createDev(OptionList* config, CLogH* hostLogger) {
    try {
        return new (std::nothrow) CQuorlix(config, hostLogger);
    } catch (...) {
        return nullptr;
    }
}

extern "C" QUORLIX_EXPORT bool deleteDev(CBase* device) {
    if (device == nullptr) return false;
    delete static_cast<CQuorlix*>(device);
    return true;
}
