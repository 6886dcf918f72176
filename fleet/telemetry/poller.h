// Polls the adopted APs for telemetry at a fixed period: "health", "radio"
// and "wireless_clients" of each AP's "vigil", asked through the
// controller's bridge with "request_response_batch" for a batch of APs at
// a time (small enough that all their answers fit one bus message), a few
// batches at once; and the model of each site's RRM controllers on the
// local bus. Every answer goes to the telemetry store.
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>

#include <array>
#include <deque>
#include <string>
#include <vector>

#include "inventory/inventory.h"
#include "telemetry/telemetry_store.h"

namespace fleet {

struct PollSettings {
	int period_s = 60;
	size_t batch = 32;      // APs per request
	int answer_ms = 5000;   // how long the bridge waits for the APs of a batch
	int radios = 4;         // RRM controllers looked for per site: radios 0 to radios - 1
};

class TelemetryPoller {
public:
	TelemetryPoller(wlc::Bus &bus, Inventory &inventory, TelemetryStore &store, PollSettings settings);
	void start();

private:
	struct Work {
		std::vector<std::string> aps;
		std::string method;
	};
	struct Slot {
		wlc::AsyncCall call;
		bool busy = false;
		std::string method;
		int64_t at = 0;
	};
	static constexpr size_t kSlots = 4;

	void round();
	void poll_costs(const std::vector<ApRecord> &aps);
	void next();
	void send(Slot &slot, Work work, uint32_t bridge);

	wlc::Bus &bus_;
	Inventory &inventory_;
	TelemetryStore &store_;
	PollSettings settings_;
	int64_t round_at_ = 0;
	std::deque<Work> queue_;
	std::array<Slot, kSlots> slots_;
	wlc::AsyncCall cost_call_;
	wlc::Timer timer_{[this] { round(); }};
	wlc::Timer next_{[this] { next(); }};
};

} // namespace fleet
