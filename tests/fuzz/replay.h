// Replays a fuzz target's saved inputs (its seeds and every find kept as a
// reproducer under tests/data/fuzz/<target>/), then a fixed set of
// mutations of each, through its reader: the sanitizer build catches any bad
// read, leak or undefined behaviour the fuzzer once found or could find near
// the seeds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace wlcfuzz {

using Reader = void (*)(const uint8_t *data, size_t size);

// Runs every saved input and, in all, about runs mutations of them; fails
// the running test when the target has no saved inputs.
void replay(const std::string &target, Reader reader, size_t runs = 20000);

} // namespace wlcfuzz
