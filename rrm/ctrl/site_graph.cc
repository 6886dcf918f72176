// Building the site graph and pricing assignments on it.
#include "site_graph.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace rrm {

int64_t received_power(int rssi)
{
	return std::llround(std::pow(10.0, rssi / 10.0) * 1e10);
}

SiteGraph::SiteGraph(const Model &m, const std::vector<int> &channels, Overlap overlap)
	: adjacency_(m.nodes.size()), values_(channels), listed_(channels.size())
{
	for (const ApNode &n : m.nodes)
		if (std::find(values_.begin(), values_.end(), n.channel) == values_.end())
			values_.push_back(n.channel);
	for (const ApNode &n : m.nodes)
		current_.push_back(static_cast<Value>(std::find(values_.begin(), values_.end(), n.channel) - values_.begin()));
	size_t v = values_.size();
	kinds_.resize(v * v);
	for (size_t a = 0; a < v; a++)
		for (size_t b = 0; b < v; b++)
			kinds_[a * v + b] = static_cast<uint8_t>(overlap.between(values_[a], values_[b]));
	for (size_t a = 0; a < v; a++)
		extra_.push_back(a >= listed_ && values_[a] != 0 ? off_list_penalty : 0);
	add_edges(m);
}

// One undirected edge per pair that hears each other either way, carrying
// what both directions cost together.
void SiteGraph::add_edges(const Model &m)
{
	std::vector<std::tuple<uint32_t, uint32_t, unsigned, int>> heard;
	for (size_t t = 0; t < m.nodes.size(); t++)
		for (const ObserverSlot &s : m.nodes[t].observers)
			heard.emplace_back(static_cast<uint32_t>(std::min(t, s.observer)),
					   static_cast<uint32_t>(std::max(t, s.observer)), s.weight, s.rssi);
	std::sort(heard.begin(), heard.end());
	for (size_t i = 0; i < heard.size();) {
		auto [a, b, w, r] = heard[i];
		SiteEdge e{b, 0, 0, 0};
		e.strongest = std::get<3>(heard[i]);
		for (; i < heard.size() && std::get<0>(heard[i]) == a && std::get<1>(heard[i]) == b; i++) {
			e.full += std::get<2>(heard[i]);
			e.partial += std::get<2>(heard[i]) / 3;
			e.power += received_power(std::get<3>(heard[i]));
			e.strongest = std::max(e.strongest, std::get<3>(heard[i]));
		}
		e.full_score = Price{e.full, e.power, 0}.score();
		e.partial_score = Price{e.partial, 0, 0}.score();
		adjacency_[a].push_back(e);
		e.other = a;
		adjacency_[b].push_back(e);
	}
}

Price SiteGraph::edge_price(const SiteEdge &e, Value a, Value b) const
{
	switch (kinds_[a * values_.size() + b]) {
	case Overlap::full:
		return {e.full, e.power};
	case Overlap::partial:
		return {e.partial, 0};
	default:
		return {};
	}
}

Price SiteGraph::local_price(const Assignment &a, size_t node, Value v) const
{
	Price sum{extra_[v], 0, v != current_[node]};
	for (const SiteEdge &e : adjacency_[node])
		sum += edge_price(e, v, a[e.other]);
	return sum;
}

void SiteGraph::listed_prices(const Assignment &a, size_t node, std::vector<Price> &prices) const
{
	prices.assign(listed_, Price{});
	for (size_t v = 0; v < listed_; v++)
		prices[v].moved = v != current_[node];
	size_t width = values_.size();
	for (const SiteEdge &e : adjacency_[node]) {
		const uint8_t *row = &kinds_[a[e.other] * width];
		for (size_t v = 0; v < listed_; v++) {
			if (row[v] == Overlap::full)
				prices[v] += {e.full, e.power};
			else if (row[v] == Overlap::partial)
				prices[v].cost += e.partial;
		}
	}
}

int64_t SiteGraph::local_score(const Assignment &a, size_t node, Value v) const
{
	int64_t sum = Price{extra_[v], 0, v != current_[node]}.score();
	const uint8_t *row = &kinds_[v * values_.size()];
	for (const SiteEdge &e : adjacency_[node]) {
		uint8_t k = row[a[e.other]];
		sum += k == Overlap::full ? e.full_score : k == Overlap::partial ? e.partial_score : 0;
	}
	return sum;
}

void SiteGraph::listed_scores(const Assignment &a, size_t node, std::vector<int64_t> &scores) const
{
	scores.assign(listed_, 0);
	for (size_t v = 0; v < listed_; v++)
		scores[v] = v != current_[node] ? move_score : 0;
	size_t width = values_.size();
	for (const SiteEdge &e : adjacency_[node]) {
		const uint8_t *row = &kinds_[a[e.other] * width];
		for (size_t v = 0; v < listed_; v++)
			scores[v] += row[v] == Overlap::full ? e.full_score : row[v] == Overlap::partial ? e.partial_score : 0;
	}
}

Price SiteGraph::total_price(const Assignment &a) const
{
	Price sum;
	for (size_t n = 0; n < adjacency_.size(); n++) {
		sum.cost += extra_[a[n]];
		sum.moved += a[n] != current_[n];
		for (const SiteEdge &e : adjacency_[n])
			if (e.other > n)
				sum += edge_price(e, a[n], a[e.other]);
	}
	return sum;
}

} // namespace rrm
