// The bridge object "mqtt.<instance>": local daemons publish, subscribe
// commands to topics, and send requests to APs whose answers come back as
// replies. Registered exactly while the instance's broker connection is up.
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>

#include <map>
#include <memory>
#include <string>

#include "../mqtt/payload.h"

namespace mast {

class MqttInstance;

// The process-wide request counter: each call returns the next msg_id, from 0.
int32_t next_request_id();

class Bridge {
public:
	explicit Bridge(MqttInstance &inst);
	~Bridge();

	// Registers the object, and keeps trying every second while it cannot be
	// (the bus connection is down, or another client holds the name), until
	// remove().
	void add();
	void remove();

	// Answers arriving on "zev/wlc/telemetry/ap/+/response/+".
	void handle_response(const TopicLevels &topic, const void *payload, size_t len);

	// Subscribes the filter so that each message runs the command with a JSON
	// record {instance, topic, message} on its standard input.
	int command_subscription(const std::string &filter, int qos, const std::string &command);

	size_t pending() const { return pending_.size(); }

private:
	struct Pending;

	int send(wlc::Request &req, blob_attr *msg);
	int subscribe(wlc::Request &req, blob_attr *msg);
	int request(wlc::Request &req, blob_attr *msg, bool batch);
	void expire(int32_t id);
	void finish(int32_t id);
	void try_add();

	MqttInstance &inst_;
	wlc::BusObject object_;
	std::map<int32_t, std::unique_ptr<Pending>> pending_;
	wlc::Timer reaper_;
	wlc::Timer add_retry_;
	bool wanted_ = false;       // between add() and remove()
	bool failure_logged_ = false;
	std::map<int32_t, std::unique_ptr<Pending>> finished_;
};

} // namespace mast
