// Publications through the MQTT bridge: "send" of "mqtt.wlc" with a topic,
// QoS 1 and a message table, invoked without waiting for the reply.
#pragma once

#include <wlc/bus.h>
#include <wlc/calls.h>

#include <chrono>
#include <functional>
#include <string>

namespace rrm {

enum class SendResult { sent, no_object, invoke_failed };

class Publisher {
public:
	using Fill = std::function<void(wlc::BlobBuf &message)>;

	explicit Publisher(wlc::Bus &bus) : bus_(bus) {}

	// The bridge's id now; 0 when it is not on the bus.
	[[nodiscard]] uint32_t lookup() { return bus_.lookup("mqtt.wlc"); }
	// Looks the bridge up and publishes.
	SendResult send(const std::string &topic, const Fill &fill);
	// Publishes through the bridge found by lookup().
	SendResult send_to(uint32_t bridge, const std::string &topic, const Fill &fill);
	[[nodiscard]] size_t in_flight() const { return calls_.size(); }

private:
	wlc::Bus &bus_;
	wlc::BlobBuf buf_;
	// A bridge that never answers must not make calls pile up.
	wlc::CallsInFlight calls_{std::chrono::seconds(30), 256};
};

} // namespace rrm
