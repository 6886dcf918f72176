// Feeds untrusted request bodies to the gateway. Its bus is not connected,
// so every request that gets past the checks ends as "object not found" or
// an internal error; the parsing and checking are what is exercised.
#include "siteview_rpc_inputs.h"

#include <cstdlib>
#include <string>

#include "rpc.h"

namespace wlcfuzz {

void siteview_rpc_one_input(const uint8_t *data, size_t size)
{
	static wlc::Bus bus;
	siteview::Gateway gateway(bus, 1);
	std::string answer = gateway.handle(std::string(reinterpret_cast<const char *>(data), size));
	// Every body gets a JSON answer: an object, or an array for a batch.
	if (answer.empty() || (answer.front() != '{' && answer.front() != '['))
		std::abort();
}

} // namespace wlcfuzz
