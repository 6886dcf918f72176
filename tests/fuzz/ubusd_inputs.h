// The bus daemon's handling of what a client sends: framing, attribute
// checks and every message kind (lookups, object registration and removal,
// invokes and replies forwarded back to the object's owner).
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

// The bytes are one client's stream to the daemon.
void ubusd_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
