// Runs the staged rollout: keeps the release on the broker as the retained
// VERSION (again whenever the controller's bridge comes back), publishes
// FIRMWARE for the models whose turn it is, pointing at the controller's
// HTTPS server, and follows every AP of the rollout through the inventory.
#pragma once

#include <wlc/bus.h>
#include <wlc/calls.h>
#include <wlc/loop.h>

#include <string>

#include "firmware/rollout_store.h"
#include "inventory/inventory.h"

namespace fleet {

struct FirmwareSettings {
	int https_port = 8443;   // the port of the image server FIRMWARE names
	int round_ms = 2000;     // how often the rollout is looked at
	int64_t reoffer_s = 10;  // an unanswered offer is published again after this
};

class RolloutEngine {
public:
	RolloutEngine(wlc::Bus &bus, Inventory &inventory, RolloutStore &store, FirmwareSettings settings = {});
	void start();
	// A rollout started or stopped: publish and look at it soon.
	void kick();

private:
	void round();
	void keep_release(uint32_t bridge);
	void run(Rollout &r, uint32_t bridge);
	void offer(const Rollout &r, const std::string &model, uint32_t bridge);
	bool publish(uint32_t bridge, const std::string &topic, const wlc::BlobBuf &message, bool retain);

	wlc::Bus &bus_;
	Inventory &inventory_;
	RolloutStore &store_;
	FirmwareSettings settings_;
	wlc::CallsInFlight calls_;
	uint32_t published_to_ = 0; // the bridge object that has the release
	Release published_;
	wlc::Timer timer_{[this] { round(); }};
};

} // namespace fleet
