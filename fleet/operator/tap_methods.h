// The operator's methods over what the broker tap heard: "log_show" (an
// AP's last log lines) and "rrm_commands" (the last channel and power
// commands of a site's radio), newest last. Each call is checked against its
// policy first; every failure is a bus status with a "message". Without a
// tap (fleetd started without -b) both answer NOT_SUPPORTED.
#pragma once

#include <wlc/bus.h>

#include <vector>

#include "tap/tap_store.h"

namespace fleet {

class TapMethods {
public:
	// store: null when the tap is off.
	explicit TapMethods(const TapStore *store) : store_(store) {}
	[[nodiscard]] std::vector<wlc::Method> methods();

private:
	int log_show(wlc::Request &req, blob_attr *msg);
	int rrm_commands(wlc::Request &req, blob_attr *msg);

	const TapStore *store_;
};

} // namespace fleet
