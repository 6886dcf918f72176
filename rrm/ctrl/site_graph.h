// The site as a graph for planning every AP at once: which APs hear each
// other (either way), what each pair costs on fully or partly overlapping
// channels, and the channels they may take.
#pragma once

#include <compare>
#include <cstdint>
#include <vector>

#include "model.h"

namespace rrm {

struct SiteEdge {
	uint32_t other = 0;
	int64_t full = 0;    // what the pair costs on fully overlapping channels
	int64_t partial = 0; // on partly overlapping ones
	int64_t power = 0;    // what each hears of the other, summed, in units of 1e-10 mW
	int64_t full_score = 0, partial_score = 0; // the pair's part of Price::score() on such channels
	int strongest = 0;    // the stronger of what each hears of the other, in dBm
};

// What moving one AP weighs in a plan's score, against 1000 for a unit of
// the model's cost: a plan moves no AP for less than three units, which
// keeps the moves, and so the steps to make them, down at little cost.
inline constexpr int64_t move_score = 3000;

// What an assignment costs: the model's cost, and the received power of the
// pairs on one channel. The model weighs every pair heard at -65 dBm or more
// alike; the power term tells a pair next to each other from one across the
// room: a pair heard at -55 dBm (both ways summed) weighs about as much as
// one unit of the model's cost, one at -45 dBm ten.
struct Price {
	int64_t cost = 0;
	int64_t power = 0;
	int64_t moved = 0; // APs off the channel they are on now

	[[nodiscard]] int64_t score() const { return cost * 1000 + power / 30 + moved * move_score; }
	bool operator==(const Price &) const = default;
	std::strong_ordering operator<=>(const Price &o) const
	{
		if (auto c = score() <=> o.score(); c != 0)
			return c;
		if (auto c = cost <=> o.cost; c != 0)
			return c;
		if (auto c = power <=> o.power; c != 0)
			return c;
		return moved <=> o.moved;
	}
	Price &operator+=(const Price &o)
	{
		cost += o.cost;
		power += o.power;
		moved += o.moved;
		return *this;
	}
	Price operator-(const Price &o) const { return {cost - o.cost, power - o.power, moved - o.moved}; }
};

// Received power in the units of SiteEdge::power.
[[nodiscard]] int64_t received_power(int rssi);

// An AP's channel in a plan: an index into the graph's values.
using Value = uint16_t;
using Assignment = std::vector<Value>;

class SiteGraph {
public:
	// Nodes are the model's, in its order.
	SiteGraph(const Model &m, const std::vector<int> &channels, Overlap overlap);

	[[nodiscard]] size_t size() const { return adjacency_.size(); }
	[[nodiscard]] const std::vector<SiteEdge> &edges(size_t node) const { return adjacency_[node]; }
	// The listed channels are values 0 .. listed() - 1; the others are the
	// channels outside the list that APs are on now.
	[[nodiscard]] size_t listed() const { return listed_; }
	[[nodiscard]] int channel(Value v) const { return values_[v]; }
	// What the APs are on now.
	[[nodiscard]] const Assignment &current() const { return current_; }

	// What one AP pays (to and from those that hear it) on value v, the others as in a.
	[[nodiscard]] Price local_price(const Assignment &a, size_t node, Value v) const;
	// The local price of every listed value at once, into prices (listed() entries).
	void listed_prices(const Assignment &a, size_t node, std::vector<Price> &prices) const;
	// The price of a whole assignment; its cost is the model's.
	[[nodiscard]] Price total_price(const Assignment &a) const;
	// Price::score() of local_price, alone and for every listed value, as the search compares them.
	[[nodiscard]] int64_t local_score(const Assignment &a, size_t node, Value v) const;
	void listed_scores(const Assignment &a, size_t node, std::vector<int64_t> &scores) const;

private:
	[[nodiscard]] Price edge_price(const SiteEdge &e, Value a, Value b) const;
	void add_edges(const Model &m);

	std::vector<std::vector<SiteEdge>> adjacency_;
	std::vector<int> values_;
	size_t listed_ = 0;
	std::vector<uint8_t> kinds_;   // Overlap::Kind of every pair of values
	std::vector<int64_t> extra_;   // per value: the penalty of a channel off the list
	Assignment current_;
};

} // namespace rrm
