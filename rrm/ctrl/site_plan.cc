// Searching the whole site's channels and choosing the moves of one step.
#include "site_plan.h"

#include <wlc/log.h>

#include <algorithm>
#include <deque>
#include <optional>
#include <random>

#include "site_schedule.h"

namespace rrm {

namespace {

// One search over an assignment: descents to a local optimum, and restarts
// of a neighbourhood that are undone unless they end cheaper.
class Search {
public:
	Search(const SiteGraph &g, const std::vector<bool> &frozen, uint64_t seed, const Assignment &start)
		: g_(g), frozen_(frozen), state_(start), score_(g.total_price(state_).score()), held_(g.size(), 0),
		  queued_(g.size(), 0), rng_(seed)
	{
		for (size_t n = 0; n < g.size(); n++)
			if (!frozen_[n])
				movable_.push_back(n);
	}

	void start();
	void restart();
	[[nodiscard]] const Assignment &state() const { return state_; }
	[[nodiscard]] Price price() const { return g_.total_price(state_); }

private:
	void descend();
	bool improve(size_t node);
	void set(size_t node, Value v);
	void set(size_t node, Value v, int64_t delta);
	void enqueue(size_t node);
	Value other_value(size_t node);

	const SiteGraph &g_;
	const std::vector<bool> &frozen_;
	Assignment state_;
	int64_t score_; // Price::score() of state_
	std::vector<uint8_t> held_, queued_;
	std::vector<size_t> movable_;
	std::deque<size_t> queue_;
	std::vector<std::pair<size_t, Value>> undo_;
	std::vector<int64_t> scores_;
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
	set(node, v, g_.local_score(state_, node, v) - g_.local_score(state_, node, state_[node]));
}

void Search::set(size_t node, Value v, int64_t delta)
{
	score_ += delta;
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
	g_.listed_scores(state_, node, scores_);
	Value v = state_[node];
	int64_t now = v < g_.listed() ? scores_[v] : g_.local_score(state_, node, v);
	auto best = std::min_element(scores_.begin(), scores_.end());
	if (*best >= now)
		return false;
	set(node, static_cast<Value>(best - scores_.begin()), *best - now);
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
	std::vector<std::pair<int64_t, size_t>> order;
	for (size_t n : movable_)
		order.emplace_back(g_.local_score(state_, n, state_[n]), n);
	std::stable_sort(order.begin(), order.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
	for (const auto &entry : order)
		enqueue(entry.second);
	descend();
	undo_.clear();
}

Value Search::other_value(size_t node)
{
	Value v = static_cast<Value>(std::uniform_int_distribution<size_t>(0, g_.listed() - 2)(rng_));
	return static_cast<Value>(v >= state_[node] ? v + 1 : v);
}

// Puts a random AP and up to two of its neighbours on random channels, holds
// the AP there while the rest settles, then lets it go too; keeps the result
// only when the site ends cheaper.
void Search::restart()
{
	if (movable_.empty() || g_.listed() < 2)
		return;
	int64_t before = score_;
	size_t node = movable_[std::uniform_int_distribution<size_t>(0, movable_.size() - 1)(rng_)];
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
	if (score_ >= before) {
		for (auto it = undo_.rbegin(); it != undo_.rend(); ++it)
			state_[it->first] = it->second;
		score_ = before;
	}
	undo_.clear();
}

// What a move gains for its AP where its neighbours are now.
Price gain_now(const SiteGraph &g, size_t node, Value to)
{
	const Assignment &now = g.current();
	return g.local_price(now, node, now[node]) - g.local_price(now, node, to);
}

std::vector<bool> frozen_nodes(const Model &m, const Skip &skip)
{
	std::vector<bool> frozen(m.nodes.size(), false);
	for (size_t n = 0; n < m.nodes.size(); n++)
		frozen[n] = skip.count(m.nodes[n].id) != 0;
	return frozen;
}

// Whether going from one cost to another gains at least the limit of the
// cost now.
bool enough_gain(int64_t from, int64_t to, int64_t now, unsigned min_gain_percent)
{
	return to < from && (from - to) * 100 >= static_cast<int64_t>(min_gain_percent) * now;
}

// The kept target where it still applies (listed channels of APs not
// frozen), polished by a descent from there.
std::optional<SitePlan> follow_target(const Model &m, const SiteGraph &g, const std::vector<bool> &frozen,
				      const SiteTarget &target)
{
	if (target.empty())
		return std::nullopt;
	Assignment a = g.current();
	for (size_t n = 0; n < m.nodes.size(); n++) {
		auto t = target.find(m.nodes[n].id);
		if (frozen[n] || t == target.end())
			continue;
		for (Value v = 0; v < g.listed(); v++)
			if (g.channel(v) == t->second)
				a[n] = v;
	}
	SitePlan p = search_site(g, frozen, 0, 0, &a);
	if (!(p.planned < p.now))
		return std::nullopt;
	return p;
}

// The moves of one step: the largest set of the plan's moves that do not
// hear each other in a colouring of them all, those that gain most where
// their neighbours are now first.
std::vector<Move> moves_of(const Model &m, const SiteGraph &g, const SitePlan &p, size_t cap)
{
	std::vector<size_t> changed;
	std::vector<Price> gain(g.size());
	for (size_t n = 0; n < g.size(); n++)
		if (p.values[n] != g.current()[n]) {
			changed.push_back(n);
			gain[n] = gain_now(g, n, p.values[n]);
		}
	std::stable_sort(changed.begin(), changed.end(), [&](size_t a, size_t b) { return gain[a] > gain[b]; });
	std::vector<Move> moves;
	for (size_t n : next_round(g, changed, cap))
		moves.push_back({m.nodes[n].id, g.channel(p.values[n])});
	return moves;
}

SiteTarget target_of(const Model &m, const SiteGraph &g, const SitePlan &p)
{
	SiteTarget t;
	for (size_t n = 0; n < m.nodes.size(); n++)
		if (p.values[n] != g.current()[n])
			t[m.nodes[n].id] = g.channel(p.values[n]);
	return t;
}

void log_plan(const char *what, const SitePlan &p)
{
	wlc::logf(LOG_DEBUG, "site plan (%s): cost %lld now, %lld planned", what, static_cast<long long>(p.now.cost),
		  static_cast<long long>(p.planned.cost));
}

} // namespace

SitePlan search_site(const SiteGraph &g, const std::vector<bool> &frozen, uint64_t seed, size_t restarts,
		     const Assignment *start)
{
	Search s(g, frozen, seed, start ? *start : g.current());
	s.start();
	for (size_t k = 0; k < restarts; k++)
		s.restart();
	return {s.state(), g.total_price(g.current()), s.price()};
}

size_t site_restarts(size_t n)
{
	return 2 * n;
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
				    const Skip &skip, SiteTarget &target)
{
	SiteGraph g(m, channels, limits.overlap);
	std::vector<bool> frozen = frozen_nodes(m, skip);
	SitePlan fresh = search_site(g, frozen, 0x5eed0000u + m.nodes.size(), site_restarts(m.nodes.size()));
	std::optional<SitePlan> kept = follow_target(m, g, frozen, target);
	// A fresh plan replaces the kept one only when it gains the limit over
	// it too, so that the site does not chase a new plan every step.
	bool fresh_enough = enough_gain(fresh.now.cost, fresh.planned.cost, fresh.now.cost, limits.min_gain_percent);
	bool fresh_better = kept && fresh.planned < kept->planned &&
			    (limits.min_gain_percent == 0 ||
			     enough_gain(kept->planned.cost, fresh.planned.cost, fresh.now.cost, limits.min_gain_percent));
	// What is left of the kept plan must gain the limit as well.
	if (kept && !enough_gain(kept->now.cost, kept->planned.cost, kept->now.cost, limits.min_gain_percent) &&
	    limits.min_gain_percent > 0)
		kept.reset();
	if (kept && !fresh_better) {
		log_plan("kept", *kept);
		target = target_of(m, g, *kept);
		return moves_of(m, g, *kept, limits.max_moves);
	}
	log_plan("fresh", fresh);
	if (!fresh_enough) {
		if (fresh.planned.cost < fresh.now.cost)
			wlc::logf(LOG_DEBUG, "site plan gain %lld is not enough, skip",
				  static_cast<long long>(fresh.now.cost - fresh.planned.cost));
		target.clear();
		return {};
	}
	target = target_of(m, g, fresh);
	return moves_of(m, g, fresh, limits.max_moves);
}

std::vector<Move> site_channel_plan(const Model &m, const std::vector<int> &channels, const SiteLimits &limits,
				    const Skip &skip)
{
	SiteTarget none;
	return site_channel_plan(m, channels, limits, skip, none);
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
