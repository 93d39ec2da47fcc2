#include "JsonFeed.h"

#include "RecordJson.h"
#include "WriteAll.h"

#include <cerrno>
#include <string>
#include <vector>

namespace host {

void JsonFeed::run() {
    std::vector<PublishedRecord> batch;
    std::uint64_t told = 0;
    for (;;) {
        queue().takeAll(batch, std::chrono::steady_clock::now() + std::chrono::seconds(1));
        const bool last = queue().closed();
        std::string text;
        for (const PublishedRecord& r : batch) {
            text += r.kind == ChangeEvent::Kind::controller ? controllerJson(r.device, r.entry, r.con, r.lost)
                                                            : trackerJson(r.device, r.entry, r.tra);
            text += '\n';
        }
        const std::uint64_t dropped = queue().dropped();
        if (dropped != told) {
            text += "{\"kind\":\"dropped\",\"records\":" + std::to_string(dropped - told) + "}\n";
            told = dropped;
        }
        if (!text.empty() && failure_.load() == 0 && !writeAll(fd_, text, &givingUp()))
            failure_ = errno == EINTR ? EAGAIN : errno;  // EAGAIN: given up at the stop, not the reader's end
        if (failure_.load() != 0) unwritten_ += batch.size();
        if (last && batch.empty()) return;
    }
}

}  // namespace host
