// One pass of the RRM report codec over an untrusted "report_add" message:
// its data table decoded as each of the three reports (channel statistics,
// BSS list, radio report) the way the controller's store does, and every
// report that decodes encoded again as the store's files and listings take
// it. Used by the fuzzer and by the mutation test that replays it in every
// build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void rrm_codec_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
