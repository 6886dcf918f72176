// vigil's DHCP lease reader under untrusted lease files.
#include "vigil_leases_inputs.h"

#include "fuzz_text.h"
#include "net_stats.h"

namespace wlcfuzz {

void vigil_leases_one_input(const uint8_t *data, size_t size)
{
	std::vector<uint8_t> copy;
	FilePtr f = open_bytes(data, size, copy);
	if (!f)
		return;
	wlc::BlobBuf reply;
	vigil::read_lease_file(f.get(), 10, reply);
	(void)reply.json();
}

} // namespace wlcfuzz
