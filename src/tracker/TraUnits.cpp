#include "tracker/TraUnits.h"

#include "support/Text.h"

namespace {

struct LengthUnit {
    const char* word;
    float factor;
};

constexpr LengthUnit kUnits[] = {
    {"feet", 1.0f},
    {"inches", 0.0833333358f},
    {"meters", 3.28083992f},
    {"m", 3.28083992f},
    {"cm", 0.0328084007f},
};

}  // namespace

bool lengthUnitFactor(const char* word, float& factor) {
    for (const LengthUnit& unit : kUnits) {
        if (compareNoCase(word, unit.word) == 0) {
            factor = unit.factor;
            return true;
        }
    }
    return false;
}
