// One pass of vigil's NTP reply reader over an untrusted datagram: the
// first 48 bytes are the reply (only a datagram of exactly that size is
// taken), any further bytes choose when the request left and how long the
// answer took, so that era and rounding edges are reached too. Used by the
// fuzzer and by the mutation test that replays it in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void ntp_reply_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
