// Switch seam on a device: generic netlink through libnl, private requests
// through ioctl on an IPv4 datagram socket.
#include "seam.h"

#include <netlink/genl/genl.h>
#include <netlink/msg.h>
#include <netlink/socket.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace kite::seam {

struct Genl {
	nl_sock *sock = nullptr;
};

void GenlClose::operator()(Genl *g) const noexcept
{
	if (g->sock)
		nl_socket_free(g->sock);
	delete g;
}

GenlChannel genl_open(int &error)
{
	GenlChannel g(new Genl);
	g->sock = nl_socket_alloc();
	if (!g->sock) {
		error = -ENOMEM;
		return nullptr;
	}
	if (genl_connect(g->sock) < 0) {
		error = -ECONNREFUSED;
		return nullptr;
	}
	error = 0;
	return g;
}

uint32_t genl_port(const Genl &g)
{
	return nl_socket_get_local_port(g.sock);
}

int genl_send(Genl &g, const uint8_t *data, size_t len)
{
	int n = nl_sendto(g.sock, const_cast<uint8_t *>(data), len);
	return n < 0 ? -EIO : 0;
}

int genl_recv(Genl &g, uint8_t *buf, size_t cap, int timeout_ms)
{
	pollfd p = {nl_socket_get_fd(g.sock), POLLIN, 0};
	int ready;
	do
		ready = poll(&p, 1, timeout_ms);
	while (ready < 0 && errno == EINTR);
	if (ready <= 0)
		return ready == 0 ? -ETIMEDOUT : -errno;
	sockaddr_nl from = {};
	unsigned char *got = nullptr;
	int n = nl_recv(g.sock, &from, &got, nullptr);
	if (n <= 0) {
		std::free(got);
		return n == 0 ? -ECONNRESET : -EIO;
	}
	size_t len = static_cast<size_t>(n) < cap ? static_cast<size_t>(n) : cap;
	std::memcpy(buf, got, len);
	std::free(got);
	return static_cast<int>(len);
}

int ioctl_socket()
{
	int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
	return fd < 0 ? -errno : fd;
}

int ioctl_request(int fd, unsigned long request, ifreq &ifr)
{
	return ioctl(fd, request, &ifr);
}

} // namespace kite::seam
