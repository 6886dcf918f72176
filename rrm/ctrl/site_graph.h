// The site as a graph for planning every AP at once: which APs hear each
// other (either way), what each pair costs on fully or partly overlapping
// channels, and the channels they may take.
#pragma once

#include <cstdint>
#include <vector>

#include "model.h"

namespace rrm {

struct SiteEdge {
	uint32_t other = 0;
	unsigned full = 0;    // what the pair costs on fully overlapping channels
	unsigned partial = 0; // on partly overlapping ones
};

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
	[[nodiscard]] unsigned local_cost(const Assignment &a, size_t node, Value v) const;
	// The local cost of every listed value at once, into costs (listed() entries).
	void listed_costs(const Assignment &a, size_t node, std::vector<unsigned> &costs) const;
	// The model's cost of a whole assignment.
	[[nodiscard]] uint64_t total_cost(const Assignment &a) const;

private:
	[[nodiscard]] unsigned edge_cost(const SiteEdge &e, Value a, Value b) const;
	void add_edges(const Model &m);

	std::vector<std::vector<SiteEdge>> adjacency_;
	std::vector<int> values_;
	size_t listed_ = 0;
	std::vector<uint8_t> kinds_;   // Overlap::Kind of every pair of values
	std::vector<unsigned> extra_;  // per value: the penalty of a channel off the list
	Assignment current_;
};

} // namespace rrm
