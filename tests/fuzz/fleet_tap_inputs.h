// One pass of fleetd's broker tap over an untrusted message: the first byte
// picks the topic it came on (an AP's log stream, a command to one AP or to
// all, a topic of neither kind), the rest is the payload; it is read,
// kept in a small store, and the store's lists are read back. Used by the
// fuzzer and by the mutation test that replays it in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void fleet_tap_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
