// The two ways to the switch registers, tried in table order: the switch
// driver's generic netlink family ("netlink") and the Ethernet driver's
// private requests on eth0 ("ioctl").
#pragma once

#include <cstdint>
#include <memory>
#include <span>

namespace kite {

// What a back end keeps between calls; each back end derives its own.
struct BackendState {
	virtual ~BackendState() = default;
};

struct Backend {
	char name[32];
	int (*init)(Backend &b);
	int (*uninit)(Backend &b);
	int (*mii_read)(Backend &b, int phy, int reg, uint32_t *value);
	int (*mii_write)(Backend &b, int phy, int reg, uint32_t value);
	int (*switch_read)(Backend &b, int reg, uint32_t *value);
	int (*switch_write)(Backend &b, int reg, uint32_t value);
	int (*port_ts)(Backend &b, int port, uint64_t ts[2]);
	std::unique_ptr<BackendState> state;
};

Backend netlink_backend();
Backend ioctl_backend();

// The table, in the order back ends are tried.
std::span<Backend> backends();

// The current back end, or null.
Backend *current();
void set_current(Backend *b);

// How long one netlink exchange may wait for its acknowledgement.
constexpr int kAckTimeoutMs = 2000;

} // namespace kite
