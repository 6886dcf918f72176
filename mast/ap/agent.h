// The adopted AP agent: one connection to the controller's broker for as
// long as the AP is managed. It announces the AP, compares firmware
// revisions, and once adopted takes configuration, reset and reboot
// commands, answers telemetry, relays roaming and RRM traffic and streams
// the log. A connection lost for a minute sends the AP searching again.
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "../core/options.h"
#include "../core/status.h"
#include "../mqtt/instance.h"

namespace mast {

class AgentParts;

// The TLS settings of a connection to the controller that adopted the AP:
// its broker certificate saved at join is the one trusted.
TlsSettings pinned_tls();

class Agent {
public:
	// start_over: called (from the loop, never inside the agent's own
	// callbacks' stack frames that it frees) when the connection stayed
	// lost too long.
	Agent(const Options &opts, wlc::Bus &bus, Status &status, std::function<void()> start_over);
	~Agent();
	Agent(const Agent &) = delete;
	Agent &operator=(const Agent &) = delete;

	// 0, or -1 when the instance cannot be created.
	int start(const std::string &host, int32_t port);
	// Announces the AP offline (waiting a bounded time for the broker to
	// take it) and closes the connection; safe when never started.
	void stop();

	MqttInstance *instance() { return inst_.get(); }
	bool pending_config() const { return pending_path_.has_value(); }

private:
	void say_offline_and_close();
	void connected();
	void disconnected();
	void subscribe_version();
	void subscribe_version_later();
	void version(const void *payload, size_t len);
	void bad_version();
	void firmware_wait(const std::string &version);
	void adopted();
	void config(const void *payload, size_t len);
	void reconfig(const void *payload, size_t len);
	void reconfig_notify();
	void apply();
	void command(const char *what, const std::vector<std::vector<std::string>> &commands);
	std::vector<BrokerAddress> peer() const;

	const Options &opts_;
	wlc::Bus &bus_;
	Status &status_;
	std::function<void()> start_over_;
	std::string own_id_;
	std::string host_;
	int32_t port_ = 0;
	std::unique_ptr<MqttInstance> inst_;
	bool started_ = false; // from start() until stop()
	wlc::Timer disconnect_timer_;
	wlc::Timer version_retry_;
	wlc::Timer apply_timer_;
	std::optional<std::string> pending_path_;
	bool draft_ = false;
	std::optional<uint32_t> reconfig_id_; // a reconfig request awaiting a new configuration
	std::unique_ptr<AgentParts> parts_; // what lives with the connection
};

} // namespace mast
