// Brings every adopted, online AP to the configuration it should run:
// sends its merged documents as CONFIG through the controller's bridge
// "mqtt.wlc", then asks it with a reconfig request whether it holds them;
// its answer records the version as confirmed. An AP that is offline at a
// change, or whose answer does not come, is sent the configuration again on
// a later round (so one coming back online gets it within a round).
#pragma once

#include <wlc/bus.h>
#include <wlc/calls.h>
#include <wlc/loop.h>

#include <chrono>
#include <map>
#include <string>

#include "config/config_store.h"

namespace fleet {

struct PushTiming {
	int round_ms = 2000;         // how often the inventory is looked through
	int answer_ms = 10000;       // how long an AP has to confirm
	int64_t resend_after_s = 10; // an unconfirmed version is sent again after this
	int64_t per_round = 64;      // the most APs sent to in one round
};

class ConfigPusher {
public:
	ConfigPusher(wlc::Bus &bus, ConfigStore &store, PushTiming timing = {});
	// Starts the rounds.
	void start();
	// A change was made: a round soon.
	void kick();

private:
	void round();
	void push(const PendingConfig &ap);
	bool send_config(const std::string &id, const EffectiveConfig &e, const std::string &merged, uint32_t bridge);
	void ask(const std::string &id, int64_t version, uint32_t bridge);

	wlc::Bus &bus_;
	ConfigStore &store_;
	PushTiming timing_;
	wlc::CallsInFlight calls_;
	// APs whose confirmation is awaited, since when; one whose call was
	// given up counts as answered once the bridge's own limit has long passed.
	std::map<std::string, std::chrono::steady_clock::time_point> asking_;
	wlc::Timer timer_{[this] { round(); }};
};

} // namespace fleet
