// The site-wide plans: every AP's channel searched at once from the model,
// then sent as several moves per step to APs that do not hear each other,
// so that no two moves of one step change what the same pair costs; and the
// power plan's moves for every AP that needs one, chosen the same way.
#pragma once

#include <cstdint>
#include <vector>

#include "plans.h"
#include "site_graph.h"

namespace rrm {

struct SiteLimits {
	size_t max_moves = 32;         // per step
	unsigned min_gain_percent = 1; // of the model's cost, below which nothing is sent
	Overlap overlap;
};

struct SitePlan {
	Assignment values;     // per node
	uint64_t cost_now = 0; // of what the APs are on now
	uint64_t cost = 0;     // of the plan
};

// Local search over every AP from where the APs are now, then seeded
// restarts of random neighbourhoods that are kept when they lower the cost.
// Frozen nodes keep their channel. The same graph and seed give the same plan.
[[nodiscard]] SitePlan search_site(const SiteGraph &g, const std::vector<bool> &frozen, uint64_t seed, size_t restarts);

// Restarts the controller's search makes for a site of n APs.
[[nodiscard]] size_t site_restarts(size_t n);

// Of the candidates, in order, those that hear none picked before them (no
// observer relation either way), at most cap.
[[nodiscard]] std::vector<size_t> non_interfering(const SiteGraph &g, const std::vector<size_t> &candidates, size_t cap);

// The channel moves of this step: nothing when the plan gains less than the
// limit, else the moves that help most where the APs are now, first.
[[nodiscard]] std::vector<Move> site_channel_plan(const Model &m, const std::vector<int> &channels,
						  const SiteLimits &limits, const Skip &skip = {});

// The power moves of this step: every AP whose reference observer asks for
// a step, in the model's order, as far as they do not hear each other.
[[nodiscard]] std::vector<Move> site_power_plan(const Model &m, int pwr_min, int pwr_max, size_t max_moves,
						const Skip &skip = {});

} // namespace rrm
