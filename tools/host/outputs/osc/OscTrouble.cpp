#include "OscTrouble.h"

#include "HostLog.h"

namespace host {

std::vector<std::string> OscTrouble::lines(bool logged, std::chrono::steady_clock::time_point now) {
    if (publisher_ == nullptr) return {};
    const std::uint64_t failures = publisher_->sendFailures(), drops = publisher_->queueDrops();
    if (failures == 0 && drops == 0) return {};
    std::string line = "OSC: " + std::to_string(drops) + " changes dropped (queue full)";
    const std::string losses = publisher_->targets().losses();
    if (!losses.empty()) line += "; " + losses;
    if (logged && failures + drops != reported_ && now - lastReport_ >= std::chrono::seconds(10)) {
        hostMessage(line);
        reported_ = failures + drops;
        lastReport_ = now;
    }
    return {line};
}

}  // namespace host
