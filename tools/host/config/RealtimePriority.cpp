#include "RealtimePriority.h"

namespace host {

bool parseRealtimePriority(const std::string& text, int& priority) {
    if (text.empty() || text.size() > 2 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const int value = std::stoi(text);
    if (value < kRealtimeLowest || value > kRealtimeHighest) return false;
    priority = value;
    return true;
}

}  // namespace host
