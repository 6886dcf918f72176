// How requests travel between the library's host-build seam and the device
// simulator: one SOCK_SEQPACKET message each way. The interface request
// (struct ifreq / iwreq) travels as its 40 raw bytes; the buffer its data
// pointer designates travels after it and comes back, possibly changed. For
// requests on an MTD device the data is the device's path inside the root.
#pragma once

#include <cstdint>

namespace zev::simwire {

constexpr const char *kDriverSocket = "/var/run/zev-sim/driver.sock";
constexpr const char *kEventSocket = "/var/run/zev-sim/events.sock";
constexpr uint32_t kMaxData = 65536;

struct Request {
	uint32_t request;  // ioctl request number
	uint32_t data_len; // bytes following this header
	uint8_t ifr[40];   // the interface request as the caller filled it
};

struct Reply {
	int32_t result;    // what ioctl returns
	int32_t error;     // errno when result < 0
	uint32_t data_len; // bytes following this header (copied back to the caller's buffer)
	uint8_t ifr[40];
};

} // namespace zev::simwire
