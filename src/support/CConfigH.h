#pragma once

struct OptionList;
class CLogH;

class CConfigH {
public:
    // Names every entry no parser recognised; true when there was none.
    static bool reportUnknownOptions(const OptionList* config, const CLogH* logger);
};
