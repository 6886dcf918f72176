// Driver seam in host builds: requests go to the device simulator of the
// device root, which answers them with the bytes the driver would.
#include "seam.h"
#include "sim_wire.h"

#include <fsroot/fsroot.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/ioctl.h>
#include <mtd/mtd-user.h>
#include <net/if.h>
#include <linux/wireless.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

namespace zev::seam {

namespace {

int connect_to(const char *path)
{
	std::string where = wlc::root_path(path);
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	if (where.size() >= sizeof(addr.sun_path)) {
		errno = ENAMETOOLONG;
		return -1;
	}
	std::memcpy(addr.sun_path, where.c_str(), where.size() + 1);
	int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
	if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0) {
		close(fd);
		return -1;
	}
	return fd;
}

bool is_socket(int fd)
{
	int type;
	socklen_t len = sizeof(type);
	return getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) == 0;
}

// The device path of an open file, as seen inside the device root.
std::string device_path(int fd)
{
	char link[64], target[PATH_MAX];
	std::snprintf(link, sizeof(link), "/proc/self/fd/%d", fd);
	ssize_t n = readlink(link, target, sizeof(target) - 1);
	if (n <= 0)
		return {};
	std::string path(target, static_cast<size_t>(n));
	const std::string &root = wlc::fs_root();
	if (!root.empty() && path.compare(0, root.size(), root) == 0)
		path.erase(0, root.size());
	return path;
}

// The caller's buffer behind a wireless request's data pointer, if it has one.
struct DataRef {
	void *ptr = nullptr;
	size_t len = 0;
};

DataRef data_of(unsigned long req, void *arg)
{
	if (req == SIOCGIWESSID || (req >= SIOCIWFIRSTPRIV && req <= SIOCIWLASTPRIV)) {
		auto *wrq = static_cast<iwreq *>(arg);
		return {wrq->u.data.pointer, wrq->u.data.length};
	}
	return {};
}

int exchange(int sock, unsigned long req, void *ifr, size_t ifr_len, const void *data, size_t data_len,
	     DataRef out)
{
	if (data_len > simwire::kMaxData) {
		errno = EINVAL;
		return -1;
	}
	std::vector<uint8_t> msg(sizeof(simwire::Request) + data_len);
	simwire::Request head = {};
	head.request = static_cast<uint32_t>(req);
	head.data_len = static_cast<uint32_t>(data_len);
	std::memcpy(head.ifr, ifr, ifr_len);
	std::memcpy(msg.data(), &head, sizeof(head));
	if (data_len)
		std::memcpy(msg.data() + sizeof(head), data, data_len);
	if (send(sock, msg.data(), msg.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(msg.size()))
		return -1;
	std::vector<uint8_t> reply(sizeof(simwire::Reply) + simwire::kMaxData);
	ssize_t n = recv(sock, reply.data(), reply.size(), 0);
	if (n < static_cast<ssize_t>(sizeof(simwire::Reply))) {
		errno = EIO;
		return -1;
	}
	simwire::Reply r;
	std::memcpy(&r, reply.data(), sizeof(r));
	size_t back = std::min<size_t>(r.data_len, static_cast<size_t>(n) - sizeof(r));
	std::memcpy(ifr, r.ifr, ifr_len);
	if (out.ptr && back)
		std::memcpy(out.ptr, reply.data() + sizeof(r), std::min(back, out.len));
	if (r.result < 0)
		errno = r.error;
	return r.result;
}

} // namespace

int request_socket()
{
	return connect_to(simwire::kDriverSocket);
}

int request(int fd, unsigned long req, void *arg)
{
	if (req == MEMGETINFO && !is_socket(fd)) {
		std::string path = device_path(fd);
		int sock = connect_to(simwire::kDriverSocket);
		if (sock < 0)
			return -1;
		uint8_t ifr[40] = {};
		DataRef out = {arg, sizeof(mtd_info_user)};
		int ret = exchange(sock, req, ifr, sizeof(ifr), path.data(), path.size(), out);
		close(sock);
		return ret;
	}
	DataRef data = data_of(req, arg);
	// The pointer itself means nothing to the simulator; it travels as zero.
	iwreq copy;
	std::memcpy(&copy, arg, sizeof(copy));
	if (data.ptr)
		copy.u.data.pointer = nullptr;
	uint8_t ifr[40] = {};
	std::memcpy(ifr, &copy, sizeof(copy));
	size_t ifr_len = req == SIOCGIFHWADDR || req == SIOCGIFADDR || req == SIOCGIFNETMASK ? sizeof(ifreq)
											   : sizeof(iwreq);
	if (ifr_len == sizeof(ifreq))
		std::memcpy(ifr, arg, sizeof(ifreq));
	int ret = exchange(fd, req, ifr, ifr_len, data.ptr, data.len, data);
	std::memcpy(arg, ifr, ifr_len);
	if (data.ptr)
		static_cast<iwreq *>(arg)->u.data.pointer = data.ptr;
	return ret;
}

int event_socket()
{
	return connect_to(simwire::kEventSocket);
}

} // namespace zev::seam
