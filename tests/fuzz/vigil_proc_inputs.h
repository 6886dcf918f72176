// One pass of vigil's /proc readers over an untrusted text: the bytes read
// as /proc/stat by the CPU sampler's reader, as /proc/net/dev by the
// interface counters and as /proc/net/arp into the "arp" reply, on a device
// (a private root) whose sysfs has a VLAN bridge and interface counters.
// Used by the fuzzer and by the mutation test that replays it in every
// build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void vigil_proc_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
