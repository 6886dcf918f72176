// Switch seam in host builds: netlink datagrams and Ethernet driver requests
// go to the device simulator of the device root, never to the host's kernel.
#include "seam.h"
#include "sim_wire.h"

#include <fsroot/fsroot.h>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kite::seam {

struct Genl {
	int fd = -1;
	uint32_t port = 0;
};

void GenlClose::operator()(Genl *g) const noexcept
{
	if (g->fd >= 0)
		close(g->fd);
	delete g;
}

namespace {

// A SOCK_SEQPACKET connection to a simulator socket; -errno on failure.
int connect_to(const char *path)
{
	std::string where = wlc::root_path(path);
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	if (where.size() >= sizeof(addr.sun_path))
		return -ENAMETOOLONG;
	std::memcpy(addr.sun_path, where.c_str(), where.size() + 1);
	int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
	if (fd < 0)
		return -errno;
	if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0) {
		int err = errno;
		close(fd);
		return -err;
	}
	return fd;
}

bool readable(int fd, int timeout_ms)
{
	pollfd p = {fd, POLLIN, 0};
	int n;
	do
		n = poll(&p, 1, timeout_ms);
	while (n < 0 && errno == EINTR);
	return n > 0;
}

} // namespace

GenlChannel genl_open(int &error)
{
	int fd = connect_to(simwire::kGenlSocket);
	if (fd < 0) {
		error = fd;
		return nullptr;
	}
	GenlChannel g(new Genl);
	g->fd = fd;
	g->port = static_cast<uint32_t>(getpid());
	error = 0;
	return g;
}

uint32_t genl_port(const Genl &g)
{
	return g.port;
}

int genl_send(Genl &g, const uint8_t *data, size_t len)
{
	ssize_t n = send(g.fd, data, len, MSG_NOSIGNAL);
	if (n < 0)
		return -errno;
	return static_cast<size_t>(n) == len ? 0 : -EIO;
}

int genl_recv(Genl &g, uint8_t *buf, size_t cap, int timeout_ms)
{
	if (!readable(g.fd, timeout_ms))
		return -ETIMEDOUT;
	ssize_t n = recv(g.fd, buf, cap, 0);
	if (n < 0)
		return -errno;
	return n == 0 ? -ECONNRESET : static_cast<int>(n);
}

int ioctl_socket()
{
	return connect_to(simwire::kEthSocket);
}

int ioctl_request(int fd, unsigned long request, ifreq &ifr)
{
	simwire::IoctlRequest req = {};
	req.request = static_cast<uint32_t>(request);
	void *data = ifr.ifr_data;
	if (data)
		std::memcpy(req.words, data, sizeof(req.words));
	ifreq copy = ifr;
	copy.ifr_data = nullptr; // the pointer means nothing to the simulator
	std::memcpy(req.ifr, &copy, sizeof(copy));
	if (send(fd, &req, sizeof(req), MSG_NOSIGNAL) != static_cast<ssize_t>(sizeof(req)))
		return -1;
	simwire::IoctlReply reply;
	ssize_t n = recv(fd, &reply, sizeof(reply), 0);
	if (n != static_cast<ssize_t>(sizeof(reply))) {
		errno = EIO;
		return -1;
	}
	if (data)
		std::memcpy(data, reply.words, sizeof(reply.words));
	if (reply.result < 0)
		errno = reply.error;
	return reply.result;
}

} // namespace kite::seam
