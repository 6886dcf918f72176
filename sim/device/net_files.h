// The IP side of a simulated device: /proc/net/dev and /proc/net/arp, the
// dnsmasq lease files, the UCI network and system configuration, and the
// description the "network.interface.*" stand-in serves.
#pragma once

#include <vector>

#include "device_root.h"

namespace sim {

// Where the "network.interface.*" stand-in reads its interfaces: a JSON
// object {"<name>": <status reply>, ...}, read again at every call.
constexpr const char *kNetworkStatusFile = "/var/lib/sim/network.json";

// Counter k (0-7) of an interface's receive and transmit columns.
uint64_t rx_counter(const Interface &ifc, int k);
uint64_t tx_counter(const Interface &ifc, int k);

void write_net_files(const DeviceSpec &dev, const std::vector<Interface> &ifaces);

} // namespace sim
