// Publishing through the management daemon's bridge object: each message is
// a call of "mqtt.wlc" "send" {path, qos 1, message}, looked up anew every
// time and not waited for.
#pragma once

#include <wlc/blob.h>
#include <wlc/bus.h>
#include <wlc/calls.h>

#include <chrono>
#include <functional>
#include <string>

namespace iapp {

class Publisher {
public:
	// Fills the message table.
	using Fill = std::function<void(wlc::BlobBuf &)>;

	explicit Publisher(wlc::Bus &bus);
	Publisher(const Publisher &) = delete;
	Publisher &operator=(const Publisher &) = delete;

	// False when "mqtt.wlc" is absent (the broker connection is down) or the
	// call cannot be made; the message is dropped then. The buffer that held
	// the message is wiped once the call is on its way.
	[[nodiscard]] bool publish(const std::string &topic, const Fill &fill);
	size_t in_flight() const { return calls_.size(); }

private:
	wlc::Bus &bus_;
	// A call the bridge never answers is given up after 30 s.
	wlc::CallsInFlight calls_{std::chrono::seconds(30)};
};

} // namespace iapp
