// The operator's views of the inventory as bus messages.
#pragma once

#include <wlc/blob.h>

#include <vector>

#include "inventory/inventory.h"

namespace fleet {

// One AP in a list: identity, state, presence, what it runs, when seen.
void add_ap_summary(wlc::BlobBuf &b, const ApRecord &ap);
// One AP in full: the summary, its certificate and its custom configuration.
void add_ap_detail(wlc::BlobBuf &b, const ApRecord &ap);
void add_events(wlc::BlobBuf &b, const std::vector<Event> &events);

} // namespace fleet
