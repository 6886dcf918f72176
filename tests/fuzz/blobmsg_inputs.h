// One pass of every blob/blobmsg reader over untrusted bytes: checks, policy
// parsing, array checks, iteration and JSON rendering. Used by the fuzzer and
// by the mutation test that replays it in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void blobmsg_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
