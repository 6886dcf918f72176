// The radio model: from each AP's newest radio and BSS reports, who hears
// whom at what signal, and how much each AP disturbs those that hear it.
// Built by a pure function so that plans can be computed without a bus.
#pragma once

#include <wlc/blob.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "common/codec.h"

namespace rrm {

// One AP's newest reports; the BSS report may be missing.
struct ModelInput {
	std::string id;
	const RadioReport *radio = nullptr;
	const BssList *bss = nullptr;
};

struct ObserverSlot {
	size_t observer = 0; // index of the observing node in Model::nodes
	int rssi = 0;
	unsigned weight = 0;
	unsigned penalty = 0;
};

struct ApNode {
	std::string id;
	int channel = 0; // 0: unknown
	int power = unknown_power;
	unsigned penalty = 0;
	size_t capacity = 0;                 // AP count - 1
	std::vector<ObserverSlot> observers; // strongest first, at most capacity
};

struct Model {
	int64_t built_at = 0;     // s since the epoch
	uint64_t generation = 0;  // of the store's radio and BSS reports it was built from
	unsigned cost = 0;
	bool stale = false;
	std::vector<ApNode> nodes; // descending id order
};

// Penalty added to an AP whose channel is known and outside the list.
inline constexpr unsigned off_list_penalty = 100;

[[nodiscard]] unsigned rssi_weight(int rssi);
// What an observer at channel distance d adds, for a weight.
[[nodiscard]] unsigned distance_penalty(unsigned weight, int distance);

// How much two channels overlap. By default by their distance alone (the
// same channel fully, up to four channels apart by a third); with a channel
// width of 20, 40 or 80 MHz, 5 GHz channels overlap fully when they fall in
// one bonded block of that width and not at all otherwise, while 2.4 GHz
// channels keep the distance rule.
struct Overlap {
	enum Kind { full = 0, partial = 1, none = 2 };
	int width = 0; // MHz; 0: by distance only

	[[nodiscard]] Kind between(int a, int b) const;
	[[nodiscard]] unsigned penalty(unsigned weight, int a, int b) const;
};

// inputs in ascending id order; nullopt when none has a radio report.
[[nodiscard]] std::optional<Model> build_model(const std::vector<ModelInput> &inputs, const std::vector<int> &channels,
					       int64_t now, uint64_t generation = 0, Overlap overlap = {});

// The "model" reply.
void encode_model(wlc::BlobBuf &buf, const Model &model);

} // namespace rrm
