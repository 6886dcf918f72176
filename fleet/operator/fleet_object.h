// The operator's object "fleet": list, show, approve, refuse, forget,
// allow, history, and the commands reboot, reset and enforced_auth. Every call is checked against its policy first; every
// failure is a bus status with a "message" field saying why.
#pragma once

#include <wlc/bus.h>

#include <string>
#include <vector>

#include "approval/lifecycle.h"
#include "common/publisher.h"
#include "operator/ap_commands.h"
#include "inventory/inventory.h"

namespace fleet {

class FleetObject {
public:
	// more: further methods served by the same object.
	FleetObject(Inventory &inventory, Lifecycle &lifecycle, Publisher &publisher, std::string default_site,
		    std::vector<wlc::Method> more = {});
	int add(wlc::Bus &bus) { return object_.add(bus); }
	void remove() { object_.remove(); }

private:
	int list(wlc::Request &req, blob_attr *msg);
	int show(wlc::Request &req, blob_attr *msg);
	int decide(wlc::Request &req, blob_attr *msg, const std::string &method);
	int allow(wlc::Request &req, blob_attr *msg);
	int history(wlc::Request &req, blob_attr *msg);
	int command(wlc::Request &req, blob_attr *msg, ApCommandKind kind, const char *method);

	Inventory &inventory_;
	Lifecycle &lifecycle_;
	Publisher &publisher_;
	std::string default_site_;
	wlc::BusObject object_;
};

} // namespace fleet
