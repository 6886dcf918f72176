// The driver's custom wireless events, as the kernel delivers them: a route
// netlink RTM_NEWLINK message whose IFLA_WIRELESS attribute holds one
// IWEVCUSTOM event (64-bit layout) carrying the driver's payload.
#pragma once

#include <cstdint>
#include <vector>

#include "../world/world.h"

namespace sim::events {

constexpr uint16_t kChanStats = 0x0955;
constexpr uint16_t kBss = 0x0A03;
constexpr uint16_t kStation = 0x0647;

using Bytes = std::vector<uint8_t>;

// The whole datagram for one event on the interface with that index.
Bytes link_message(int ifindex, uint16_t event_id, const Bytes &payload);

Bytes sta_join(int ifindex, const Station &sta, bool moved);
Bytes sta_leave(int ifindex, const Mac &mac, uint16_t reason);
// Sums over `samples` samples of the channel's load.
Bytes chan_stats(int ifindex, int channel, const ChannelLoad &load, uint16_t samples);
Bytes bss(int ifindex, const HeardBss &b);

} // namespace sim::events
