// The operator's configuration methods of the "fleet" object:
// "config_set", "config_show", "config_history" and "group_set". Each call
// is checked against its policy first; every failure is a bus status with a
// "message" saying why, and changes nothing.
#pragma once

#include <wlc/bus.h>

#include <functional>
#include <vector>

#include "config/config_store.h"
#include "inventory/inventory.h"

namespace fleet {

class ConfigMethods {
public:
	// changed is told after every change that may concern APs.
	ConfigMethods(Inventory &inventory, ConfigStore &store, std::function<void()> changed);
	// The method table entries, to be served by the "fleet" object.
	[[nodiscard]] std::vector<wlc::Method> methods();

private:
	int set(wlc::Request &req, blob_attr *msg);
	int show(wlc::Request &req, blob_attr *msg);
	int history(wlc::Request &req, blob_attr *msg);
	int set_group(wlc::Request &req, blob_attr *msg);
	void add_ap_view(wlc::BlobBuf &reply, const std::string &id);

	Inventory &inventory_;
	ConfigStore &store_;
	std::function<void()> changed_;
};

} // namespace fleet
