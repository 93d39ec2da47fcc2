// outputs/json/: every change as a JSON line on standard output.
#pragma once

#include "FixedDecimal.h"
#include "quorlix/shm.h"

#include <cstdint>
#include <optional>
#include <string>

namespace host {

// One JSON object (no line end) for a changed record: device, kind, entry,
// record number, time stamp, and buttons and valuators or the pose. Values
// are the records' exact fixed-point decimals. A record the host wrote for a
// device whose line is lost ends with "line":"lost" (a tracker's too, which
// only a mirror whose sender is gone marks). A reader of the shared
// memory also tells the storages' stale word, last ("stale":true|false).
std::string controllerJson(const std::string& device, std::uint32_t entry, const quorlix_con_data& record,
                           bool lost = false, std::optional<bool> stale = std::nullopt);
std::string trackerJson(const std::string& device, std::uint32_t entry, const quorlix_tra_data& record,
                        bool lost = false, std::optional<bool> stale = std::nullopt);

std::string jsonString(const std::string& text);

}  // namespace host
