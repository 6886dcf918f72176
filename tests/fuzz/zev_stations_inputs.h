// One pass of libzev's station table reader over an untrusted driver reply:
// the reply as the station request receives it (its whole buffer, zero
// beyond what the driver wrote) and as exactly the bytes given, each
// station's rate then worked out from its decoded PHY fields. Used by the
// fuzzer and by the mutation test that replays it in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void zev_stations_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
