// The commands an operator sends to one adopted AP: reboot, factory reset,
// and enforced authentication on or off. Each goes out once, not retained
// (an AP ignores retained commands), so only to an AP that is connected.
#pragma once

#include <wlc/blob.h>

#include <optional>
#include <string>

namespace fleet {

enum class ApCommandKind { reboot, reset, enforced_auth };

struct ApCommand {
	std::string topic;
	std::optional<wlc::BlobBuf> message; // none: an empty payload
	std::string detail;                  // for the AP's history
};

// enabled matters only for enforced authentication. That topic is shared
// by every AP; the message names the AP it is meant for.
ApCommand make_ap_command(ApCommandKind kind, const std::string &id, bool enabled);

} // namespace fleet
