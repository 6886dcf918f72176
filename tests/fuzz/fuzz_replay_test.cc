// Replays saved fuzzer inputs and a fixed set of mutations of the golden
// buffers through the blob readers (the sanitizer build catches any bad read).
#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <vector>

#include "blobmsg_inputs.h"
#include "harness.h"

namespace {

std::vector<std::vector<uint8_t>> seeds()
{
	std::vector<std::vector<uint8_t>> out;
	for (const char *dir : {"blobmsg", "fuzz/blobmsg"}) {
		std::filesystem::path p = wlctest::data_path(dir);
		if (!std::filesystem::exists(p))
			continue;
		for (const auto &entry : std::filesystem::directory_iterator(p))
			if (entry.path().extension() == ".bin")
				out.push_back(wlctest::read_bytes(entry.path().string()));
	}
	return out;
}

TEST(FuzzReplay, SavedInputsAndGoldenBuffers)
{
	auto inputs = seeds();
	ASSERT_GE(inputs.size(), 8u);
	for (const auto &in : inputs)
		wlcfuzz::blobmsg_one_input(in.data(), in.size());
}

TEST(FuzzReplay, MutatedGoldenBuffers)
{
	std::mt19937 rng(20261207);
	auto inputs = seeds();
	for (const auto &seed : inputs) {
		for (int round = 0; round < 3000; round++) {
			std::vector<uint8_t> m = seed;
			int edits = 1 + static_cast<int>(rng() % 4);
			for (int e = 0; e < edits && !m.empty(); e++) {
				size_t at = rng() % m.size();
				switch (rng() % 4) {
				case 0: m[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
				case 1: m[at] = static_cast<uint8_t>(rng()); break;
				case 2: m.resize(at); break;
				default: m[at & ~size_t(3)] = static_cast<uint8_t>(0x80 | (rng() % 10)); break;
				}
			}
			// Skipping the root header exercises the field lists directly too.
			wlcfuzz::blobmsg_one_input(m.data(), m.size());
			if (m.size() > 4)
				wlcfuzz::blobmsg_one_input(m.data() + 4, m.size() - 4);
		}
	}
}

} // namespace
