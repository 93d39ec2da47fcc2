#include "QueuedOutput.h"

namespace host {

void QueuedOutput::changed(const ChangeEvent& event) {
    if (queue_.push(PublishedRecord::from(event))) wake();
}

}  // namespace host
