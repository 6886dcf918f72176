#include "replay.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <vector>

#include "harness.h"

namespace wlcfuzz {

namespace {

using Bytes = std::vector<uint8_t>;

std::vector<Bytes> saved_inputs(const std::string &target)
{
	std::vector<Bytes> out;
	std::filesystem::path dir = wlctest::data_path("fuzz/" + target);
	if (!std::filesystem::is_directory(dir))
		return out;
	std::vector<std::filesystem::path> files;
	for (const auto &entry : std::filesystem::directory_iterator(dir))
		if (entry.is_regular_file())
			files.push_back(entry.path());
	std::sort(files.begin(), files.end());
	for (const auto &f : files)
		out.push_back(wlctest::read_bytes(f.string()));
	return out;
}

// Bit flips, random bytes, truncation and small numbers at aligned
// offsets (where most formats keep their lengths and types).
Bytes mutate(const Bytes &seed, std::mt19937 &rng)
{
	Bytes m = seed;
	int edits = 1 + static_cast<int>(rng() % 4);
	for (int e = 0; e < edits && !m.empty(); e++) {
		size_t at = rng() % m.size();
		switch (rng() % 4) {
		case 0: m[at] ^= static_cast<uint8_t>(1u << (rng() % 8)); break;
		case 1: m[at] = static_cast<uint8_t>(rng()); break;
		case 2: m.resize(at); break;
		default: m[at & ~size_t(3)] = static_cast<uint8_t>(rng() % 64); break;
		}
	}
	return m;
}

} // namespace

void replay(const std::string &target, Reader reader, size_t runs)
{
	std::vector<Bytes> inputs = saved_inputs(target);
	ASSERT_FALSE(inputs.empty()) << "no saved inputs for " << target;
	// The same number of runs whatever the corpus size, so that the
	// sanitizer build stays quick.
	const size_t per_input = std::max<size_t>(runs / 100, runs / inputs.size());
	std::mt19937 rng(20261208);
	for (const Bytes &in : inputs) {
		reader(in.data(), in.size());
		for (size_t round = 0; round < per_input; round++) {
			Bytes m = mutate(in, rng);
			reader(m.data(), m.size());
		}
	}
}

} // namespace wlcfuzz
