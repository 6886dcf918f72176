// The wired and IP side of the access point: logical interfaces ("vlan"),
// switch ports, routes, neighbours, DHCP leases and DNS servers.
#pragma once

#include <wlc/bus.h>

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vigil {

// One kernel interface's counters: /proc/net/dev plus the sysfs error counters.
struct IfaceCounters {
	// rx: bytes packets errs drop fifo frame compressed multicast, then crc over missed length
	std::array<uint64_t, 12> rx = {};
	// tx: bytes packets errs drop fifo colls carrier compressed, then aborted heartbeat window
	std::array<uint64_t, 11> tx = {};
};
using IfaceCounterMap = std::map<std::string, IfaceCounters>;

// Reads /proc/net/dev and the sysfs counters; nullopt when the file cannot
// be read or a line is malformed.
[[nodiscard]] std::optional<IfaceCounterMap> read_iface_counters();

// The paths of the platform's "network.interface.*" objects; nullopt when
// the lookup fails.
[[nodiscard]] std::optional<std::vector<std::string>> interface_objects(wlc::Bus &bus);

int vlan_method(wlc::Bus &bus, wlc::Request &req);
int dns_method(wlc::Bus &bus, wlc::Request &req);
int switchport_method(wlc::Request &req);
int ip_route_method(wlc::Request &req);
int arp_method(wlc::Request &req);
int dhcp_leases_method(wlc::Request &req);

} // namespace vigil
