// The records the controller's mast sends to "db.ap" "set": a join record
// (join_req true) or a presence record (online), read and checked whole.
#pragma once

#include <wlc/c/ubox.h>

#include <string>
#include <variant>

#include "inventory/inventory.h"

namespace fleet {

struct BadRecord {
	std::string reason;
};

using ApRecordMessage = std::variant<JoinInfo, PresenceInfo, BadRecord>;

// Every field is checked (type, length, form) before any is used.
[[nodiscard]] ApRecordMessage read_ap_record(blob_attr *msg);

} // namespace fleet
