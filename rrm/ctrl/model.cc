// Building the radio model.
#include "model.h"

#include <algorithm>
#include <array>
#include <map>

namespace rrm {

namespace {

// Adds (or strengthens) observer o in t's list, keeping it strongest first.
// Returns the slot now holding o, or null when o is not (newly) placed.
ObserverSlot *place_observer(ApNode &t, size_t o, int rssi)
{
	auto &slots = t.observers;
	auto same = std::find_if(slots.begin(), slots.end(), [o](const ObserverSlot &s) { return s.observer == o; });
	if (same != slots.end()) {
		if (same->rssi >= rssi)
			return nullptr;
		slots.erase(same); // re-placed below, so the order stays strongest first
	}
	auto at = std::find_if(slots.begin(), slots.end(), [rssi](const ObserverSlot &s) { return s.rssi < rssi; });
	if (at == slots.end() && slots.size() >= t.capacity)
		return nullptr;
	at = slots.insert(at, ObserverSlot{o, rssi, 0, 0});
	if (slots.size() > t.capacity)
		slots.pop_back();
	return &*at;
}

void add_observations(Model &m, const std::map<Mac, size_t> &owners, size_t o, const BssList &heard, Overlap overlap)
{
	for (const zev_wifi_bss &entry : heard) {
		Mac key;
		std::copy(entry.bssid, entry.bssid + 6, key.begin());
		auto owner = owners.find(key);
		if (owner == owners.end() || owner->second == o)
			continue;
		ObserverSlot *slot = place_observer(m.nodes[owner->second], o, entry.rssi);
		if (!slot)
			continue;
		slot->weight = rssi_weight(slot->rssi);
		slot->penalty = overlap.penalty(slot->weight, m.nodes[o].channel, static_cast<int>(entry.channel));
	}
}

void sum_penalties(Model &m, const std::vector<int> &channels)
{
	m.cost = 0;
	for (ApNode &n : m.nodes) {
		n.penalty = 0;
		for (const ObserverSlot &s : n.observers)
			n.penalty += s.penalty;
		if (n.channel != 0 && !std::binary_search(channels.begin(), channels.end(), n.channel))
			n.penalty += off_list_penalty;
		m.cost += n.penalty;
	}
}

} // namespace

unsigned rssi_weight(int rssi)
{
	if (rssi >= -65)
		return 10;
	if (rssi >= -75)
		return 6;
	if (rssi >= -85)
		return 3;
	return 0;
}

unsigned distance_penalty(unsigned weight, int distance)
{
	distance = std::abs(distance);
	if (distance == 0)
		return weight;
	return distance <= 4 ? weight / 3 : 0;
}

namespace {

// The first channel of the bonded block of a width that holds a 5 GHz
// channel; 0 when the channel is in no such block.
int block_start(int channel, int width)
{
	static const std::array<int, 12> starts40 = {36, 44, 52, 60, 100, 108, 116, 124, 132, 140, 149, 157};
	static const std::array<int, 6> starts80 = {36, 52, 100, 116, 132, 149};
	int span = width / 5; // channel numbers the block covers
	auto find = [&](const auto &starts) {
		for (int s : starts)
			if (channel >= s && channel < s + span)
				return s;
		return 0;
	};
	return width >= 80 ? find(starts80) : find(starts40);
}

} // namespace

Overlap::Kind Overlap::between(int a, int b) const
{
	bool five_ghz = a >= 32 && b >= 32;
	if (width == 0 || !five_ghz) {
		int d = std::abs(a - b);
		return d == 0 ? full : d <= 4 ? partial : none;
	}
	if (a == b)
		return full;
	if (width < 40)
		return none;
	int sa = block_start(a, width);
	return sa != 0 && sa == block_start(b, width) ? full : none;
}

unsigned Overlap::penalty(unsigned weight, int a, int b) const
{
	switch (between(a, b)) {
	case full:
		return weight;
	case partial:
		return weight / 3;
	default:
		return 0;
	}
}

std::optional<Model> build_model(const std::vector<ModelInput> &inputs, const std::vector<int> &channels, int64_t now,
				 uint64_t generation, Overlap overlap)
{
	std::vector<const ModelInput *> aps;
	for (const ModelInput &in : inputs)
		if (in.radio)
			aps.push_back(&in);
	if (aps.empty())
		return std::nullopt;
	Model m;
	m.built_at = now;
	m.generation = generation;
	std::reverse(aps.begin(), aps.end()); // the list runs in descending id order
	std::vector<const BssList *> heard;
	std::map<Mac, size_t> owners;
	for (const ModelInput *in : aps) {
		size_t index = m.nodes.size();
		m.nodes.push_back({in->id, in->radio->channel, in->radio->power, 0, aps.size() - 1, {}});
		heard.push_back(in->bss);
		// Among APs claiming one BSSID, the lowest id (placed last) wins.
		for (const Mac &b : in->radio->bssids)
			owners[b] = index;
	}
	for (size_t o = 0; o < m.nodes.size(); o++)
		if (heard[o])
			add_observations(m, owners, o, *heard[o], overlap);
	sum_penalties(m, channels);
	return m;
}

void encode_model(wlc::BlobBuf &buf, const Model &model)
{
	buf.add_u64("timestamp", static_cast<uint64_t>(model.built_at));
	buf.add_u32("cost", model.cost);
	auto list = buf.array("ap_list");
	for (const ApNode &n : model.nodes) {
		auto t = buf.table();
		buf.add("id", n.id);
		if (n.channel != 0)
			buf.add_u32("channel", static_cast<uint32_t>(n.channel));
		if (n.power > unknown_power)
			buf.add_u32("power", static_cast<uint32_t>(n.power));
		if (n.observers.empty())
			continue;
		auto obs = buf.array("observers");
		for (const ObserverSlot &s : n.observers) {
			auto o = buf.table();
			buf.add("id", model.nodes[s.observer].id);
			buf.add_u32("rssi", static_cast<uint32_t>(s.rssi));
			buf.add_u32("weight", s.weight);
			buf.add_u32("penalty", s.penalty);
		}
	}
}

} // namespace rrm
