#include "support/CConfigH.h"

#include "support/CLogH.h"
#include "support/OptionList.h"

#include <iostream>

bool CConfigH::reportUnknownOptions(const OptionList* config, const CLogH* logger) {
    if (config == nullptr) return true;
    CLogH fallback;
    if (logger == nullptr) {
        fallback.setName("CConfigH");
        logger = &fallback;
    }
    bool allKnown = true;
    for (std::uint32_t i = 0; i < config->usedEntries(); ++i) {
        const OptionEntry& entry = config->entries[i];
        if (entry.recognised) continue;
        logger->error("CConfigH: Unknown option \"", false);
        std::cout << entry.nameText() << "\" found at line " << entry.lineNumber << '.' << std::endl;
        allKnown = false;
    }
    return allKnown;
}
