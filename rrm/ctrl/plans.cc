// Choosing channel and power moves.
#include "plans.h"

#include <wlc/log.h>

#include <algorithm>

namespace rrm {

namespace {

const ApNode *worst_node(const Model &m, const Skip &skip)
{
	const ApNode *worst = nullptr;
	for (const ApNode &n : m.nodes)
		if (!skip.count(n.id) && (!worst || n.penalty > worst->penalty))
			worst = &n;
	return worst;
}

unsigned virtual_penalty(const Model &m, const ApNode &n, int channel)
{
	unsigned sum = 0;
	for (const ObserverSlot &s : n.observers)
		sum += distance_penalty(s.weight, m.nodes[s.observer].channel - channel);
	return sum;
}

// The observer whose hearing sets an AP's power: the third strongest, or the
// weakest there is when fewer hear it.
const ObserverSlot *base_observer(const ApNode &n)
{
	if (n.observers.empty() || n.capacity == 0)
		return nullptr;
	size_t start = std::min<size_t>(2, n.capacity - 1);
	return &n.observers[std::min(start, n.observers.size() - 1)];
}

} // namespace

unsigned needed_gain(Sensitivity s)
{
	switch (s) {
	case Sensitivity::low:
		return 5;
	case Sensitivity::medium:
		return 2;
	default:
		return 0;
	}
}

std::optional<Move> channel_plan(const Model &m, const std::vector<int> &channels, Sensitivity s, const Skip &skip)
{
	const ApNode *worst = worst_node(m, skip);
	if (!worst)
		return std::nullopt;
	wlc::logf(LOG_DEBUG, "worst AP is %s - penalty %u", worst->id.c_str(), worst->penalty);
	if (worst->penalty == 0)
		return std::nullopt;
	unsigned best = worst->penalty;
	std::optional<int> chosen;
	for (int c : channels) {
		if (c == worst->channel)
			continue;
		unsigned v = virtual_penalty(m, *worst, c);
		wlc::logf(LOG_DEBUG, "virtual penalty for %s on channel %d is %u", worst->id.c_str(), c, v);
		if (v < best) {
			best = v;
			chosen = c;
		}
		if (v == 0)
			break;
	}
	if (!chosen)
		return std::nullopt;
	unsigned gain = worst->penalty - best;
	if (gain < needed_gain(s)) {
		wlc::logf(LOG_DEBUG, "virtual penalty diff %d for channel %d is not enough, skip", static_cast<int>(gain), *chosen);
		return std::nullopt;
	}
	return Move{worst->id, *chosen};
}

std::optional<int> power_target(const Model &m, const ApNode &n, int pwr_min, int pwr_max)
{
	int target = n.power + 3;
	if (const ObserverSlot *base = base_observer(n)) {
		wlc::logf(LOG_DEBUG, "base observer for %s is %s (rssi = %d)", n.id.c_str(), m.nodes[base->observer].id.c_str(),
			  base->rssi);
		target = base->rssi >= -66 ? n.power - 3 : base->rssi <= -76 ? n.power + 3 : n.power;
	} else {
		wlc::logf(LOG_DEBUG, "no base observer for %s", n.id.c_str());
	}
	target = std::clamp(target, pwr_min, pwr_max);
	if (target == n.power)
		return std::nullopt;
	return target;
}

std::optional<Move> power_plan(const Model &m, int pwr_min, int pwr_max, const Skip &skip)
{
	for (const ApNode &n : m.nodes) {
		if (skip.count(n.id))
			continue;
		if (std::optional<int> target = power_target(m, n, pwr_min, pwr_max))
			return Move{n.id, *target};
	}
	return std::nullopt;
}

} // namespace rrm
