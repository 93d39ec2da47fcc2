// changes/: the change bus: each record a device rewrote, handed to every output.
#pragma once

#include "PublishedRecord.h"
#include "PublishedView.h"

#include <cstdint>
#include <vector>

namespace host {

// The entries of `kind` in use as readers see them now, with their owners
// and lost marks, onto `out`; `lost` gets a bit per lost entry (bit n - 1
// for entry n). Returns the count of entries in use; an entry being
// rewritten at the moment is left out.
std::uint32_t publishedSnapshot(const PublishedView& view, PublishedView::Kind kind, std::vector<PublishedRecord>& out,
                                std::uint32_t& lost);

}  // namespace host
