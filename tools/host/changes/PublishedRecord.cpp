#include "PublishedRecord.h"

#include <cstring>

namespace host {

PublishedRecord PublishedRecord::from(const ChangeEvent& event) {
    PublishedRecord r;
    r.kind = event.kind;
    r.entry = event.entry;
    r.lost = event.lost;
    if (event.device != nullptr) std::strncpy(r.device, event.device->c_str(), sizeof r.device - 1);
    if (event.kind == ChangeEvent::Kind::controller) r.con = event.con;
    else r.tra = event.tra;
    return r;
}

}  // namespace host
