// How the library's host-build seam meets the device simulator's switch.
// Generic netlink: one SOCK_SEQPACKET datagram per netlink datagram, each way,
// bytes exactly as on a netlink socket. Ethernet driver requests: an
// IoctlRequest answered by an IoctlReply.
#pragma once

#include <cstdint>

namespace kite::simwire {

constexpr const char *kGenlSocket = "/var/run/zev-sim/genl.sock";
constexpr const char *kEthSocket = "/var/run/zev-sim/eth.sock";

struct IoctlRequest {
	uint32_t request;  // ioctl request number
	uint8_t ifr[40];   // struct ifreq, its data pointer zeroed
	uint32_t words[3]; // what the data pointer designates: phy, register, value
};

struct IoctlReply {
	int32_t result;    // what ioctl returns
	int32_t error;     // errno when result < 0
	uint32_t words[3];
};

} // namespace kite::simwire
