// The controller role: the local broker connection, join requests and
// presence into the AP database, log and telemetry relays, the controller's
// initialisation command.
#pragma once

#include <wlc/bus.h>

#include <memory>

#include "../core/options.h"
#include "../core/status.h"
#include "../mqtt/instance.h"

namespace mast {

class Controller {
public:
	Controller(const Options &opts, wlc::Bus &bus, Status &status);
	~Controller();

	// 0, or -1 when the instance cannot be created.
	int start();

	MqttInstance *instance() { return inst_.get(); }

private:
	void connected();
	void disconnected();
	void join_request(const TopicLevels &topic, const void *payload, size_t len);
	void presence(const TopicLevels &topic, const void *payload, size_t len);

	const Options &opts_;
	wlc::Bus &bus_;
	Status &status_;
	std::unique_ptr<MqttInstance> inst_;
};

// Stops the controller role: the station blink ends, whatever of the role was
// started goes, and "Finish controller" is logged. Safe when the role never
// started (controller null, or its start failed).
void stop_controller(std::unique_ptr<Controller> &controller);

} // namespace mast
