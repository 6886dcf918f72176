// Colouring a plan's moves into steps.
#include "site_schedule.h"

#include <algorithm>
#include <limits>

namespace rrm {

namespace {

constexpr size_t none = std::numeric_limits<size_t>::max();

struct Colouring {
	std::vector<std::vector<size_t>> near;       // per candidate: neighbouring candidates
	std::vector<size_t> colour;                  // none while uncoloured
	std::vector<std::vector<uint16_t>> heard_of; // per candidate: coloured neighbours per colour
	std::vector<size_t> saturation;              // distinct colours among them
};

Colouring start(const SiteGraph &g, const std::vector<size_t> &candidates)
{
	std::vector<size_t> at(g.size(), none);
	for (size_t i = 0; i < candidates.size(); i++)
		at[candidates[i]] = i;
	Colouring c;
	c.near.resize(candidates.size());
	for (size_t i = 0; i < candidates.size(); i++)
		for (const SiteEdge &e : g.edges(candidates[i]))
			if (at[e.other] != none && e.strongest >= step_hearing_rssi)
				c.near[i].push_back(at[e.other]);
	c.colour.assign(candidates.size(), none);
	c.heard_of.resize(candidates.size());
	c.saturation.assign(candidates.size(), 0);
	return c;
}

// The uncoloured candidate with the most colours around it, then the most
// neighbours; the first among equals.
size_t most_saturated(const Colouring &c)
{
	size_t best = none;
	for (size_t i = 0; i < c.colour.size(); i++) {
		if (c.colour[i] != none)
			continue;
		if (best == none || c.saturation[i] > c.saturation[best] ||
		    (c.saturation[i] == c.saturation[best] && c.near[i].size() > c.near[best].size()))
			best = i;
	}
	return best;
}

void paint(Colouring &c, size_t i)
{
	const std::vector<uint16_t> &around = c.heard_of[i];
	size_t k = 0;
	while (k < around.size() && around[k] > 0)
		k++;
	c.colour[i] = k;
	for (size_t j : c.near[i]) {
		auto &h = c.heard_of[j];
		if (h.size() <= k)
			h.resize(k + 1, 0);
		if (h[k]++ == 0)
			c.saturation[j]++;
	}
}

} // namespace

std::vector<size_t> colour_moves(const SiteGraph &g, const std::vector<size_t> &candidates)
{
	Colouring c = start(g, candidates);
	for (size_t i = most_saturated(c); i != none; i = most_saturated(c))
		paint(c, i);
	return c.colour;
}

std::vector<size_t> next_round(const SiteGraph &g, const std::vector<size_t> &candidates, size_t cap)
{
	std::vector<size_t> colour = colour_moves(g, candidates);
	std::vector<size_t> size;
	for (size_t k : colour) {
		if (size.size() <= k)
			size.resize(k + 1, 0);
		size[k]++;
	}
	if (size.empty())
		return {};
	size_t largest = static_cast<size_t>(std::max_element(size.begin(), size.end()) - size.begin());
	std::vector<size_t> round;
	for (size_t i = 0; i < candidates.size() && round.size() < cap; i++)
		if (colour[i] == largest)
			round.push_back(candidates[i]);
	return round;
}

} // namespace rrm
