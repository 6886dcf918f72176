// The one way the library reaches the switch: a generic netlink channel and
// the Ethernet driver's private requests. On a device the kernel answers; in
// host builds the device simulator answers the same bytes. The build picks
// one; the bytes are built and parsed by the library either way.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <net/if.h>

namespace kite::seam {

// A connected generic netlink channel.
struct Genl;
struct GenlClose {
	void operator()(Genl *g) const noexcept;
};
using GenlChannel = std::unique_ptr<Genl, GenlClose>;

// Connects to generic netlink; null with a negative errno in error.
GenlChannel genl_open(int &error);
// The channel's own port id, as requests carry it.
uint32_t genl_port(const Genl &g);
// Sends one datagram of netlink messages; 0 or a negative errno.
int genl_send(Genl &g, const uint8_t *data, size_t len);
// Receives one datagram into buf (up to cap bytes), waiting at most
// timeout_ms; its length, -110 when nothing came in time, or a negative errno.
int genl_recv(Genl &g, uint8_t *buf, size_t cap, int timeout_ms);

// A socket for the Ethernet driver's requests; a descriptor or a negative errno.
int ioctl_socket();
// One private request on that socket: ifr names the interface, and its data
// pointer designates the request's three 32-bit words. What ioctl returns,
// with errno set on failure.
int ioctl_request(int fd, unsigned long request, ifreq &ifr);

} // namespace kite::seam
