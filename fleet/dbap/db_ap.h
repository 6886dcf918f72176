// The AP database object "db.ap": method "set" takes the join and presence
// records of the controller's mast and records them; the reply comes once
// the record is durable.
#pragma once

#include <wlc/bus.h>

#include "approval/lifecycle.h"

namespace fleet {

class DbApObject {
public:
	explicit DbApObject(Lifecycle &lifecycle);
	int add(wlc::Bus &bus) { return object_.add(bus); }
	void remove() { object_.remove(); }

private:
	int set(wlc::Request &req, blob_attr *msg);

	Lifecycle &lifecycle_;
	wlc::BusObject object_;
};

} // namespace fleet
