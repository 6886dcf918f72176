// Driver seam on a device: the kernel answers.
#include "seam.h"

#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zev::seam {

int request_socket()
{
	return socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
}

int request(int fd, unsigned long req, void *arg)
{
	return ioctl(fd, req, arg);
}

int event_socket()
{
	int fd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
	if (fd < 0)
		return -1;
	sockaddr_nl addr = {};
	addr.nl_family = AF_NETLINK;
	addr.nl_groups = RTMGRP_LINK;
	if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0) {
		close(fd);
		return -1;
	}
	return fd;
}

} // namespace zev::seam
