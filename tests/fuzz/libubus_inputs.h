// The bus client library's handling of what the daemon sends: the greeting,
// replies to its requests (status, data, lookups), and invokes of the objects
// it serves, during synchronous waits and from the event loop.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

// The bytes are the daemon's whole stream to the client, greeting included.
void libubus_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
