// Which of a plan's moves go out together: the moving APs are coloured so
// that no two that hear each other share a colour (each colour is a set of
// moves that cannot interfere), with as few colours as a saturation-first
// greedy colouring finds, and each step sends the largest colour.
#pragma once

#include <cstddef>
#include <vector>

#include "site_graph.h"

namespace rrm {

// Colours of the candidates (in their order), 0 upwards.
[[nodiscard]] std::vector<size_t> colour_moves(const SiteGraph &g, const std::vector<size_t> &candidates);

// The candidates of the largest colour (the lowest among equals), in their
// order, at most cap.
[[nodiscard]] std::vector<size_t> next_round(const SiteGraph &g, const std::vector<size_t> &candidates, size_t cap);

} // namespace rrm
