// The one way the library reaches the kernel's drivers: driver requests
// (ioctl) and the driver's event socket. On a device the kernel answers; in
// host builds the device simulator answers the same requests with the same
// bytes. Which one is chosen by the build.
#pragma once

namespace zev::seam {

// A socket for interface and wireless requests (an IPv4 datagram socket on a
// device); -1 on failure. Close it with close().
int request_socket();

// Issues a request on a socket from request_socket() or on an open MTD
// device; returns what ioctl returns (errno set on failure).
int request(int fd, unsigned long req, void *arg);

// A socket receiving the driver's link messages (route netlink bound to the
// link group on a device); -1 on failure.
int event_socket();

} // namespace zev::seam
