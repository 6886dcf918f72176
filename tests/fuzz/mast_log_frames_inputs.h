// One pass of mast's log stream framing over an untrusted stream: the first
// byte chooses how the reads split the rest (any split, down to a byte at a
// time), and the entries handed on must be the stream's own bytes, whole,
// in order, each of its declared length. Used by the fuzzer and by the
// mutation test that replays it in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void mast_log_frames_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
