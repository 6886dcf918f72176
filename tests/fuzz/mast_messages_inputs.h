// One pass of mast's message readers over an untrusted payload: the
// payload check and the relays' copy of a checked payload, the JOIN_REQ and
// ONLINE, response and log readers of the controller, the VERSION, CONFIG,
// FIRMWARE, request and reconfig readers of the agent, the records they make
// rendered as the bus and the configuration file would take them; then the same bytes as a received topic, split into
// levels and joined again. Used by the fuzzer and by the mutation test that
// replays it in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void mast_messages_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
