#include "QueuedOutput.h"

namespace host {

void QueuedOutput::changed(const ChangeEvent& event) { queue_.push(PublishedRecord::from(event)); }

}  // namespace host
