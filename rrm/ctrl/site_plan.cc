// Searching the whole site's channels and choosing the moves of one step.
#include "site_plan.h"

#include <wlc/log.h>

#include <algorithm>
#include <deque>
#include <numeric>
#include <random>

namespace rrm {

namespace {

// One search over an assignment: descents to a local optimum, and restarts
// of a neighbourhood that are undone unless they end lower.
class Search {
public:
	Search(const SiteGraph &g, const std::vector<bool> &frozen, uint64_t seed)
		: g_(g), frozen_(frozen), state_(g.current()), cost_(g.total_cost(state_)), held_(g.size(), 0),
		  queued_(g.size(), 0), rng_(seed)
	{
		for (size_t n = 0; n < g.size(); n++)
			if (!frozen_[n])
				movable_.push_back(n);
	}

	void start();
	void restart();
	[[nodiscard]] const Assignment &state() const { return state_; }
	[[nodiscard]] uint64_t cost() const { return static_cast<uint64_t>(cost_); }

private:
	void descend();
	bool improve(size_t node);
	void set(size_t node, Value v);
	void enqueue(size_t node);

	const SiteGraph &g_;
	const std::vector<bool> &frozen_;
	Assignment state_;
	int64_t cost_;
	std::vector<uint8_t> held_, queued_;
	std::vector<size_t> movable_;
	std::deque<size_t> queue_;
	std::vector<std::pair<size_t, Value>> undo_;
	std::vector<unsigned> costs_;
	std::mt19937_64 rng_;
};

void Search::enqueue(size_t node)
{
	if (!frozen_[node] && !queued_[node]) {
		queued_[node] = 1;
		queue_.push_back(node);
	}
}

void Search::set(size_t node, Value v)
{
	cost_ += static_cast<int64_t>(g_.local_cost(state_, node, v)) -
		 static_cast<int64_t>(g_.local_cost(state_, node, state_[node]));
	undo_.emplace_back(node, state_[node]);
	state_[node] = v;
	for (const SiteEdge &e : g_.edges(node))
		enqueue(e.other);
}

// Moves the node to its cheapest listed channel when that is cheaper than
// where it is; among equals the lower channel.
bool Search::improve(size_t node)
{
	if (held_[node] || g_.listed() == 0)
		return false;
	g_.listed_costs(state_, node, costs_);
	unsigned now = g_.local_cost(state_, node, state_[node]);
	auto best = std::min_element(costs_.begin(), costs_.end());
	if (*best >= now)
		return false;
	set(node, static_cast<Value>(best - costs_.begin()));
	return true;
}

void Search::descend()
{
	while (!queue_.empty()) {
		size_t node = queue_.front();
		queue_.pop_front();
		queued_[node] = 0;
		improve(node);
	}
}

// The worst APs first, as the single-AP plan would take them.
void Search::start()
{
	std::vector<std::pair<unsigned, size_t>> order;
	for (size_t n : movable_)
		order.emplace_back(g_.local_cost(state_, n, state_[n]), n);
	std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
	for (const auto &entry : order)
		enqueue(entry.second);
	descend();
	undo_.clear();
}

// Puts a random AP and up to two of its neighbours on random channels, holds
// the AP there while the rest settles, then lets it go too; keeps the result
// only when the site ends cheaper.
void Search::restart()
{
	if (movable_.empty() || g_.listed() < 2)
		return;
	int64_t before = cost_;
	size_t node = movable_[std::uniform_int_distribution<size_t>(0, movable_.size() - 1)(rng_)];
	auto other_value = [&](size_t n) {
		Value v = static_cast<Value>(std::uniform_int_distribution<size_t>(0, g_.listed() - 2)(rng_));
		return static_cast<Value>(v >= state_[n] ? v + 1 : v);
	};
	set(node, other_value(node));
	const auto &edges = g_.edges(node);
	for (int k = 0; k < 2 && !edges.empty(); k++) {
		size_t n = edges[std::uniform_int_distribution<size_t>(0, edges.size() - 1)(rng_)].other;
		if (!frozen_[n])
			set(n, other_value(n));
	}
	held_[node] = 1;
	descend();
	held_[node] = 0;
	enqueue(node);
	descend();
	if (cost_ >= before) {
		for (auto it = undo_.rbegin(); it != undo_.rend(); ++it)
			state_[it->first] = it->second;
		cost_ = before;
	}
	undo_.clear();
}

// What a move gains for its AP where its neighbours are now.
int64_t gain_now(const SiteGraph &g, size_t node, Value to)
{
	const Assignment &now = g.current();
	return static_cast<int64_t>(g.local_cost(now, node, now[node])) - static_cast<int64_t>(g.local_cost(now, node, to));
}

std::vector<bool> frozen_nodes(const Model &m, const Skip &skip)
{
	std::vector<bool> frozen(m.nodes.size(), false);
	for (size_t n = 0; n < m.nodes.size(); n++)
		frozen[n] = skip.count(m.nodes[n].id) != 0;
	return frozen;
}

bool enough_gain(const SitePlan &p, unsigned min_gain_percent)
{
	if (p.cost >= p.cost_now)
		return false;
	return (p.cost_now - p.cost) * 100 >= static_cast<uint64_t>(min_gain_percent) * p.cost_now;
}

} // namespace

SitePlan search_site(const SiteGraph &g, const std::vector<bool> &frozen, uint64_t seed, size_t restarts)
{
	Search s(g, frozen, seed);
	s.start();
	for (size_t k = 0; k < restarts; k++)
		s.restart();
	return {s.state(), g.total_cost(g.current()), s.cost()};
}

size_t site_restarts(size_t n)
{
	return 4 * n;
}

std::vector<size_t> non_interfering(const SiteGraph &g, const std::vector<size_t> &candidates, size_t cap)
{
	std::vector<uint8_t> blocked(g.size(), 0);
	std::vector<size_t> picked;
	for (size_t n : candidates) {
		if (picked.size() >= cap)
			break;
		if (blocked[n])
			continue;
		picked.push_back(n);
		blocked[n] = 1;
		for (const SiteEdge &e : g.edges(n))
			blocked[e.other] = 1;
	}
	return picked;
}

std::vector<Move> site_channel_plan(const Model &m, const std::vector<int> &channels, const SiteLimits &limits,
				    const Skip &skip)
{
	SiteGraph g(m, channels, limits.overlap);
	SitePlan p = search_site(g, frozen_nodes(m, skip), 0x5eed0000u + m.nodes.size(), site_restarts(m.nodes.size()));
	wlc::logf(LOG_DEBUG, "site plan: cost %llu now, %llu planned", static_cast<unsigned long long>(p.cost_now),
		  static_cast<unsigned long long>(p.cost));
	if (!enough_gain(p, limits.min_gain_percent)) {
		if (p.cost < p.cost_now)
			wlc::logf(LOG_DEBUG, "site plan gain %llu is not enough, skip",
				  static_cast<unsigned long long>(p.cost_now - p.cost));
		return {};
	}
	std::vector<size_t> changed;
	for (size_t n = 0; n < g.size(); n++)
		if (p.values[n] != g.current()[n])
			changed.push_back(n);
	std::stable_sort(changed.begin(), changed.end(), [&](size_t a, size_t b) {
		return gain_now(g, a, p.values[a]) > gain_now(g, b, p.values[b]);
	});
	std::vector<Move> moves;
	for (size_t n : non_interfering(g, changed, limits.max_moves))
		moves.push_back({m.nodes[n].id, g.channel(p.values[n])});
	return moves;
}

std::vector<Move> site_power_plan(const Model &m, int pwr_min, int pwr_max, size_t max_moves, const Skip &skip)
{
	std::vector<size_t> wanted;
	std::vector<int> target(m.nodes.size(), 0);
	for (size_t n = 0; n < m.nodes.size(); n++) {
		if (skip.count(m.nodes[n].id))
			continue;
		if (std::optional<int> t = power_target(m, m.nodes[n], pwr_min, pwr_max)) {
			target[n] = *t;
			wanted.push_back(n);
		}
	}
	if (wanted.empty())
		return {};
	SiteGraph g(m, {}, Overlap{});
	std::vector<Move> moves;
	for (size_t n : non_interfering(g, wanted, max_moves))
		moves.push_back({m.nodes[n].id, target[n]});
	return moves;
}

} // namespace rrm
