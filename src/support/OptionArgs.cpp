#include "support/OptionArgs.h"

#include "support/CLogH.h"
#include "support/SinglePrecision.h"
#include "support/Text.h"

#include <iostream>

namespace optionargs {

void reportFault(const CLogH& logger, const char* source, const char* problem, const char* option,
                 std::uint32_t lineNumber, const char* ending) {
    logger.error(source, false);
    std::cout << problem << option << lineNumber << ending << std::endl;
}

const char* countProblem(std::uint32_t count, std::uint32_t fewest, std::uint32_t most) {
    if (count < fewest) return kIncomplete;
    if (count > most) return kTooMany;
    return nullptr;
}

bool readReal(const char* text, float& value) {
    const double converted = parseReal(text);
    if (converted == 0.0 && beginsWithLetter(text)) return false;
    value = toSingle(converted);
    return true;
}

}  // namespace optionargs
