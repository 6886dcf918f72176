// One pass of libzev's factory layout reader over an untrusted layout file:
// the bytes tokenised as the file is, the layout taken by
// zev_factory_layout_from_json on a device (under a private root) whose
// /proc/mtd names the "Factory" partition, then every item it lists and the
// identity items ("sn", "lan") read from the partition. Used by the fuzzer
// and by the mutation test that replays it in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void zev_factory_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
