// libkite's reply readers under untrusted bytes.
#include "genl_inputs.h"

#include "genl_msg.h"
#include "reply.h"

#include <cstring>

namespace wlcfuzz {

void genl_one_input(const uint8_t *data, size_t size)
{
	uint32_t seq = 0;
	if (size >= 12)
		std::memcpy(&seq, data + 8, 4);
	kite::Record rec;
	kite::genl::Ended ended;
	kite::genl::walk(data, size, seq, [&rec](uint16_t, uint8_t cmd, const uint8_t *a, size_t len) {
		kite::apply_reply(rec, cmd, a, len);
		kite::genl::AttrTable t;
		uint32_t v;
		if (kite::genl::parse_attrs(a, len, t))
			for (const auto &view : t)
				(void)kite::genl::attr_u32(view, v);
	}, ended);
}

} // namespace wlcfuzz
