// Publishing to APs through the controller's bridge object "mqtt.wlc"
// ("send"): QoS 2, never retained (an AP ignores retained commands).
#pragma once

#include <wlc/bus.h>
#include <wlc/calls.h>

#include <chrono>
#include <string>

namespace fleet {

class Publisher {
public:
	explicit Publisher(wlc::Bus &bus);
	// message: the fields of the payload table; null sends an empty payload.
	// what names the message in log lines. False when the bridge is not
	// there (the broker connection is down) or the call cannot be made.
	bool publish(const std::string &topic, const wlc::BlobBuf *message, const std::string &what);

private:
	// The bridge's object: a join storm's JOIN_RESPs share one look-up, kept
	// for at most kBridgeKept and dropped as soon as a call to it fails
	// (mast restarted, the bus daemon came back).
	uint32_t bridge();
	static constexpr std::chrono::milliseconds kBridgeKept{500};

	wlc::Bus &bus_;
	wlc::CallsInFlight calls_;
	uint32_t bridge_ = 0;
	std::chrono::steady_clock::time_point looked_up_;
};

} // namespace fleet
