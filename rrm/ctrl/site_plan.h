// The site-wide plans: every AP's channel searched at once from the model,
// then sent as several moves per step to APs that do not hear each other,
// so that no two moves of one step change what the same pair costs; and the
// power plan's moves for every AP that needs one, chosen the same way.
#pragma once

#include <cstdint>
#include <map>
#include <string>
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
	Assignment values; // per node
	Price now;         // of what the APs are on now
	Price planned;     // of the plan
};

// The channel each AP is to reach, kept between steps while its moves are
// sent, so that the site heads for one plan rather than a new one each step.
using SiteTarget = std::map<std::string, int>;

// Local search over every AP from an assignment (where the APs are now
// unless given), then seeded restarts of random neighbourhoods that are kept
// when they lower the price. Frozen nodes keep their channel. The same graph,
// start and seed give the same plan.
[[nodiscard]] SitePlan search_site(const SiteGraph &g, const std::vector<bool> &frozen, uint64_t seed, size_t restarts,
				   const Assignment *start = nullptr);

// Restarts the controller's search makes for a site of n APs.
[[nodiscard]] size_t site_restarts(size_t n);

// Of the candidates, in order, those that hear none picked before them (no
// observer relation either way), at most cap.
[[nodiscard]] std::vector<size_t> non_interfering(const SiteGraph &g, const std::vector<size_t> &candidates, size_t cap);

// The channel moves of this step. The target of earlier steps is followed
// (polished by a local search) while it is still better than a fresh plan
// and not reached; a fresh plan is taken only when it gains at least the
// limit. The moves that help most where the APs are now come first. The
// target is updated (cleared when nothing is left to do).
[[nodiscard]] std::vector<Move> site_channel_plan(const Model &m, const std::vector<int> &channels,
						  const SiteLimits &limits, const Skip &skip, SiteTarget &target);
// The same without a target kept between steps.
[[nodiscard]] std::vector<Move> site_channel_plan(const Model &m, const std::vector<int> &channels,
						  const SiteLimits &limits, const Skip &skip = {});

// The power moves of this step: every AP whose reference observer asks for
// a step, in the model's order, as far as they do not hear each other.
[[nodiscard]] std::vector<Move> site_power_plan(const Model &m, int pwr_min, int pwr_max, size_t max_moves,
						const Skip &skip = {});

} // namespace rrm
