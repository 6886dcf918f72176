// The operator's firmware methods of the "fleet" object: "firmware_image"
// (the image of a model), "firmware_show", and "rollout_start",
// "rollout_show" and "rollout_stop" for a staged rollout. Each call is
// checked against its policy first; every failure is a bus status with a
// "message" saying why, and changes nothing.
#pragma once

#include <wlc/bus.h>

#include <functional>
#include <string>
#include <vector>

#include "firmware/rollout_store.h"
#include "inventory/inventory.h"

namespace fleet {

class FirmwareMethods {
public:
	// images: the image directory, resolved under the device root; changed
	// is told after a rollout started or stopped.
	FirmwareMethods(Inventory &inventory, RolloutStore &store, std::string images, std::function<void()> changed);
	[[nodiscard]] std::vector<wlc::Method> methods();

private:
	int set_image(wlc::Request &req, blob_attr *msg);
	int show(wlc::Request &req, blob_attr *msg);
	int start(wlc::Request &req, blob_attr *msg);
	int show_rollout(wlc::Request &req, blob_attr *msg);
	int stop(wlc::Request &req, blob_attr *msg);
	std::string queue(const Rollout &r, std::vector<FwTrack> &tracks);

	Inventory &inventory_;
	RolloutStore &store_;
	std::string images_;
	std::function<void()> changed_;
};

} // namespace fleet
