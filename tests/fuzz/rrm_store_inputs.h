// One pass of the RRM report store's file loading over an untrusted file:
// the bytes read as a channel, a BSS and a radio history file by the
// function the store's start-up loading hands each file's bytes to, and
// every report it keeps encoded again as the store writes and lists them.
// Used by the fuzzer and by the mutation test that replays it in every
// build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void rrm_store_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
