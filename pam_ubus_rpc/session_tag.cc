// Random session tags.
#include "session_tag.h"

#include <cerrno>
#include <cstdint>
#include <sys/random.h>

namespace pamrpc {

std::optional<std::string> random_session_tag()
{
	uint8_t bytes[8];
	ssize_t n;
	do
		n = getrandom(bytes, sizeof(bytes), 0);
	while (n < 0 && errno == EINTR);
	if (n != static_cast<ssize_t>(sizeof(bytes)))
		return std::nullopt;
	static const char digits[] = "0123456789abcdef";
	std::string tag;
	for (uint8_t b : bytes) {
		tag += digits[b >> 4];
		tag += digits[b & 0xF];
	}
	return tag;
}

} // namespace pamrpc
