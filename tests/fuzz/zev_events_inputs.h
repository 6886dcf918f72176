// One pass of libzev's event reader over an untrusted datagram: the bytes
// arrive on a datagram socket as the driver's route netlink messages do,
// and zev_wifi_event_process walks them to the station, channel statistics
// and BSS callbacks. Used by the fuzzer and by the mutation test that
// replays it in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void zev_events_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
