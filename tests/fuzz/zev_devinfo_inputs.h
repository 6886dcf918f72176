// One pass of libzev's device-information readers over an untrusted text:
// the bytes stored (under a private root) as the release file and as
// /proc/uptime, then read by zev_devinfo_release_read and
// zev_devinfo_uptime. A release read must leave every text field terminated,
// a build date only when it is a real one, and the uptime must be -1 or a
// count of seconds that is not negative. Used by the fuzzer and by the
// mutation test that replays it in every build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void zev_devinfo_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
