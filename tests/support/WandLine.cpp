#include "WandLine.h"

#include <cstring>

PortAttributes wandAttributes() {
    PortAttributes a;
    std::memset(&a, 0, sizeof a);
    a.dcb.fBinary = 1;
    a.dcb.ByteSize = 8;
    a.timeouts.ReadTotalTimeoutMultiplier = 100;
    return a;
}

bool openLikeTheWand(CRS232H& port, const std::string& name) {
    const PortAttributes a = wandAttributes();
    return port.openPort(name.c_str()) && port.storeAttributes(&a) && port.setBaudRate(9600) &&
           port.setAttributes(nullptr);
}
