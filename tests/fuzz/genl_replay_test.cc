// Replays saved fuzzer inputs and a fixed set of mutations of well-formed
// switch driver datagrams through libkite's reply readers (the sanitizer
// build catches any bad read).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <vector>

#include "genl_inputs.h"
#include "harness.h"

namespace {

std::vector<std::vector<uint8_t>> inputs()
{
	auto out = wlcfuzz::genl_seeds();
	std::filesystem::path saved = wlctest::data_path("fuzz/genl");
	if (std::filesystem::exists(saved))
		for (const auto &entry : std::filesystem::directory_iterator(saved))
			out.push_back(wlctest::read_bytes(entry.path().string()));
	return out;
}

TEST(GenlReplay, MutatedDriverDatagrams)
{
	std::mt19937 rng(20261208);
	for (const auto &seed : inputs()) {
		wlcfuzz::genl_one_input(seed.data(), seed.size());
		for (int round = 0; round < 3000; round++) {
			std::vector<uint8_t> m = seed;
			int edits = 1 + static_cast<int>(rng() % 4);
			for (int e = 0; e < edits && !m.empty(); e++) {
				size_t at = rng() % m.size();
				switch (rng() % 4) {
				case 0: m[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
				case 1: m[at] = static_cast<uint8_t>(rng()); break;
				case 2: m.resize(at); break;
				// Lengths of messages and attributes are the fields that matter most.
				default: m[at & ~size_t(3)] = static_cast<uint8_t>(rng() % 64); break;
				}
			}
			wlcfuzz::genl_one_input(m.data(), m.size());
		}
	}
}

} // namespace
