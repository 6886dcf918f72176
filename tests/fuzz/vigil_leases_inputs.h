// One pass of vigil's DHCP lease reader over an untrusted lease file: the
// bytes read as a VLAN's dnsmasq lease file into the "dhcp_leases" reply.
// Used by the fuzzer and by the mutation test that replays it in every
// build.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void vigil_leases_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
