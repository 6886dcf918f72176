// The channel plan and the power plan: at most one move per step, computed
// from the radio model alone.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "common/options.h"
#include "model.h"

namespace rrm {

struct Move {
	std::string id;
	int value = 0; // channel, or power in dBm
	bool operator==(const Move &) const = default;
};

// APs the plans leave alone (for example ones that did not obey earlier moves).
using Skip = std::set<std::string>;

// The gain a channel move must bring at a sensitivity.
[[nodiscard]] unsigned needed_gain(Sensitivity s);

// Moves the AP with the highest penalty to the listed channel where its
// observers would disturb it least, when that gains enough.
[[nodiscard]] std::optional<Move> channel_plan(const Model &m, const std::vector<int> &channels, Sensitivity s,
					       const Skip &skip = {});

// The power an AP should go to (3 dB down when its reference observer hears
// it loudly, up when faintly or not at all, within [pwr_min, pwr_max]), or
// nullopt when it should stay.
[[nodiscard]] std::optional<int> power_target(const Model &m, const ApNode &n, int pwr_min, int pwr_max);

// Turns the first AP (in list order) that its reference observer hears too
// loudly down, or too faintly up, by 3 dB within [pwr_min, pwr_max].
[[nodiscard]] std::optional<Move> power_plan(const Model &m, int pwr_min, int pwr_max, const Skip &skip = {});

} // namespace rrm
