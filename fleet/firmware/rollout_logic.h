// A staged firmware rollout as a pure step: what the inventory shows of each
// AP moves it from queued through offered (FIRMWARE published for its
// model) and installing (gone offline to install) to done (back with the
// target revision) or failed (back with another, gone from the inventory,
// or past the time limit); and which models get an offer now. An AP that
// went offline and came back between two steps is seen by the time it went.
//
// One FIRMWARE message reaches every AP of its model waiting for that
// version, so an offer counts all the queued APs of the model: it is made
// only while they fit within the limit beside those in progress.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fleet {

enum class FwState { queued, offered, installing, done, failed };
std::string_view fw_state_name(FwState s);
std::optional<FwState> parse_fw_state(std::string_view s);

struct FwTrack {
	std::string ap, model;
	FwState state = FwState::queued;
	int64_t since = 0;      // when it entered the state
	int64_t last_offer = 0; // when its model's FIRMWARE was last published for it
	std::string detail;
};

// What the inventory holds of an AP now; null when it is gone.
struct ApSeen {
	bool online = false;
	std::string revision;
	int64_t last_offline = 0; // when it last went offline (0: never)
};
using SeeAp = std::function<std::optional<ApSeen>(const std::string &ap)>;

struct RolloutLimits {
	int64_t max_parallel = 1; // APs offered or installing at once
	int64_t max_failures = 1; // the rollout halts at this many
	int64_t timeout = 600;    // seconds from the offer to the return
	int64_t reoffer = 30;     // seconds before an unanswered offer is published again
};

struct RolloutStep {
	std::vector<size_t> changed;      // indexes of the tracks that changed
	std::vector<std::string> offers;  // models to publish FIRMWARE for
	bool halted = false;              // too many failures: no more offers
	bool finished = false;            // nothing left queued or in progress
	std::string note;                 // why queued APs wait, if they cannot go on
};

// Revisions compare without regard to letter case, as the AP compares them.
[[nodiscard]] bool same_revision(std::string_view a, std::string_view b);

[[nodiscard]] RolloutStep step_rollout(const RolloutLimits &limits, const std::string &revision,
				       std::vector<FwTrack> &tracks, const SeeAp &see, int64_t now);

} // namespace fleet
