// One pass of libkite's reply readers over untrusted bytes: the datagram
// walk, attribute parsing and the reply handler, as a received datagram of
// the exchange whose sequence number its first message carries. Used by the
// fuzzer and by the mutation test that replays it in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void genl_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
