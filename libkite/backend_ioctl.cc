// The "ioctl" back end: the Ethernet driver's private requests on eth0, each
// carrying three 32-bit words {phy, register, value}; switch registers are
// reached as phy 31.
#include "backend.h"
#include "transport/seam.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace kite {

namespace {

constexpr unsigned long kMiiRead = 0x89F3;  // SIOCDEVPRIVATE + 3
constexpr unsigned long kMiiWrite = 0x89F4; // SIOCDEVPRIVATE + 4
constexpr int kSwitchPhy = 31;
constexpr const char *kInterface = "eth0";

struct IoctlState : BackendState {
	int fd = -1;
	~IoctlState() override
	{
		if (fd >= 0)
			close(fd);
	}
};

int fd_of(Backend &b)
{
	return static_cast<IoctlState &>(*b.state).fd;
}

int transfer(Backend &b, unsigned long request, uint32_t words[3])
{
	ifreq ifr = {};
	std::strncpy(ifr.ifr_name, kInterface, IFNAMSIZ - 1);
	ifr.ifr_data = reinterpret_cast<char *>(words);
	return seam::ioctl_request(fd_of(b), request, ifr) < 0 ? -1 : 0;
}

int ioctl_mii_init(Backend &b)
{
	int fd = seam::ioctl_socket();
	if (fd < 0)
		return fd;
	auto s = std::make_unique<IoctlState>();
	s->fd = fd;
	b.state = std::move(s);
	return 0;
}

int ioctl_mii_uninit(Backend &b)
{
	b.state.reset();
	return 0;
}

int ioctl_mii_read(Backend &b, int phy, int reg, uint32_t *value)
{
	uint32_t words[3] = {static_cast<uint32_t>(phy), static_cast<uint32_t>(reg), 0};
	int ret = transfer(b, kMiiRead, words);
	if (ret == 0)
		*value = words[2];
	return ret;
}

int ioctl_mii_write(Backend &b, int phy, int reg, uint32_t value)
{
	uint32_t words[3] = {static_cast<uint32_t>(phy), static_cast<uint32_t>(reg), value};
	return transfer(b, kMiiWrite, words);
}

int ioctl_switch_read(Backend &b, int reg, uint32_t *value)
{
	return ioctl_mii_read(b, kSwitchPhy, reg, value);
}

int ioctl_switch_write(Backend &b, int reg, uint32_t value)
{
	return ioctl_mii_write(b, kSwitchPhy, reg, value);
}

int ioctl_switch_port_ts(Backend &, int, uint64_t *)
{
	return -EOPNOTSUPP;
}

} // namespace

Backend ioctl_backend()
{
	return Backend{"ioctl", ioctl_mii_init, ioctl_mii_uninit, ioctl_mii_read, ioctl_mii_write,
		       ioctl_switch_read, ioctl_switch_write, ioctl_switch_port_ts, nullptr};
}

} // namespace kite
