// What the adopted agent runs on top of one broker connection: the
// telemetry relay, the log stream and the firmware download. They all refer
// to that connection, so they live and go with it.
#pragma once

#include <wlc/bus.h>

#include <functional>
#include <string>

#include "../mqtt/instance.h"
#include "firmware.h"
#include "log_stream.h"
#include "telemetry_relay.h"

namespace mast {

class AgentParts {
public:
	AgentParts(wlc::Bus &bus, MqttInstance &inst, const std::string &own_id, const std::string &host,
		   std::function<void()> version_again)
		: telemetry_(bus, inst, own_id), log_(bus, inst, own_id), firmware_(host, std::move(version_again))
	{
	}

	void log_stream_start() { (void)log_.start(); }
	void connection_lost() { log_.stop(); }
	void telemetry(const void *payload, size_t len) { telemetry_.handle(payload, len); }
	void firmware(const TopicLevels &topic, const void *payload, size_t len) { firmware_.handle(topic, payload, len); }

	TelemetryRelay &telemetry_relay() { return telemetry_; }
	LogStream &log_stream() { return log_; }

private:
	TelemetryRelay telemetry_;
	LogStream log_;
	Firmware firmware_;
};

} // namespace mast
