// The operator's telemetry methods of the "fleet" object: "telemetry_show"
// (the last answers of an AP) and "telemetry_series" (the time series of an
// AP, or the RRM cost of a site's radio) and "site_summary" (a site's APs
// by state, and its clients in total from the newest counts). Each call is checked against its
// policy first; every failure is a bus status with a "message".
#pragma once

#include <wlc/bus.h>

#include <vector>

#include "inventory/inventory.h"
#include "telemetry/telemetry_store.h"

namespace fleet {

class TelemetryMethods {
public:
	TelemetryMethods(Inventory &inventory, const TelemetryStore &store);
	[[nodiscard]] std::vector<wlc::Method> methods();

private:
	int show(wlc::Request &req, blob_attr *msg);
	int series(wlc::Request &req, blob_attr *msg);
	int summary(wlc::Request &req, blob_attr *msg);

	Inventory &inventory_;
	const TelemetryStore &store_;
};

} // namespace fleet
