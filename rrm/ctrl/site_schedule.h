// Which of a plan's moves go out together: the moving APs are coloured so
// that no two that hear each other share a colour (each colour is a set of
// moves that cannot interfere), with as few colours as a saturation-first
// greedy colouring finds, and each step sends the largest colour.
// APs that hear each other only below step_hearing_rssi count as not hearing
// each other here: their moves belong to one plan that prices them together,
// and should one of them not follow, the pair costs the model's least weight.
// In a dense site this sends more than twice the moves per step.
#pragma once

#include <cstddef>
#include <vector>

#include "site_graph.h"

namespace rrm {

inline constexpr int step_hearing_rssi = -75;

// Colours of the candidates (in their order), 0 upwards.
[[nodiscard]] std::vector<size_t> colour_moves(const SiteGraph &g, const std::vector<size_t> &candidates);

// The candidates of the largest colour (the lowest among equals), in their
// order, at most cap.
[[nodiscard]] std::vector<size_t> next_round(const SiteGraph &g, const std::vector<size_t> &candidates, size_t cap);

} // namespace rrm
