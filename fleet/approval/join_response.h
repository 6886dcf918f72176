// JOIN_RESP, published through the controller's bridge object "mqtt.wlc":
// an empty message on the AP's join-response topic, QoS 2, not retained.
#pragma once

#include <wlc/bus.h>
#include <wlc/calls.h>

#include <string>

namespace fleet {

class JoinResponse {
public:
	explicit JoinResponse(wlc::Bus &bus);
	// False when the bridge is not there (the AP's next join is answered).
	bool send(const std::string &id);

private:
	wlc::Bus &bus_;
	wlc::CallsInFlight calls_;
};

} // namespace fleet
