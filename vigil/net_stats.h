// The wired and IP side of the access point: logical interfaces ("vlan"),
// switch ports, routes, neighbours, DHCP leases and DNS servers.
#pragma once

#include <wlc/bus.h>

#include <array>
#include <cstdio>
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
// The same from an open /proc/net/dev text (the sysfs counters still read).
[[nodiscard]] std::optional<IfaceCounterMap> read_iface_counters(FILE *f);

// The paths of the platform's "network.interface.*" objects; nullopt when
// the lookup fails.
[[nodiscard]] std::optional<std::vector<std::string>> interface_objects(wlc::Bus &bus);

int vlan_method(wlc::Bus &bus, wlc::Request &req);
int dns_method(wlc::Bus &bus, wlc::Request &req);
int switchport_method(wlc::Request &req);
int ip_route_method(wlc::Request &req);
// The readers of the "arp" and "dhcp_leases" replies, given the open text.
// /proc/net/arp: its neighbours on VLAN bridges as the "entries" array;
// false when the text is empty.
[[nodiscard]] bool read_arp(FILE *f, wlc::BlobBuf &reply);
// A VLAN's dnsmasq lease file: its IPv4 leases as the array named after the
// VLAN (DHCPv6 lines and malformed lines are passed over).
void read_lease_file(FILE *f, int vlan, wlc::BlobBuf &reply);

int arp_method(wlc::Request &req);
int dhcp_leases_method(wlc::Request &req);

} // namespace vigil
