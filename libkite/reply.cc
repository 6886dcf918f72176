// The reply handler of the netlink back end.
#include "reply.h"

#include "genl_msg.h"

#include <algorithm>
#include <cstring>

namespace kite {

namespace {

// A timestamp of up to 8 bytes; nothing of an earlier one survives.
uint64_t timestamp(const genl::AttrView &a)
{
	uint64_t v = 0;
	std::memcpy(&v, a.data, std::min(a.len, sizeof(v)));
	return v;
}

bool begins_with_no(const genl::AttrView &mesg)
{
	return mesg.present() && mesg.len >= 2 && mesg.data[0] == 'N' && mesg.data[1] == 'o';
}

} // namespace

void apply_reply(Record &rec, uint8_t cmd, const uint8_t *attrs, size_t len)
{
	genl::AttrTable t;
	if (!genl::parse_attrs(attrs, len, t))
		return;
	if (cmd == genl::kCmdRead || cmd == genl::kCmdWrite) {
		if (begins_with_no(t[genl::kAttrMesg]))
			return;
		uint32_t v;
		if (genl::attr_u32(t[genl::kAttrReg], v))
			rec.reg = static_cast<int>(v);
		if (genl::attr_u32(t[genl::kAttrVal], v)) {
			rec.val = v;
			rec.has_val = true;
		}
	} else if (cmd == genl::kCmdPortTs) {
		uint32_t port;
		if (genl::attr_u32(t[genl::kAttrPhy], port))
			rec.port = static_cast<int>(port);
		if (t[genl::kAttrTs1].present())
			rec.ts[0] = timestamp(t[genl::kAttrTs1]);
		if (t[genl::kAttrTs2].present())
			rec.ts[1] = timestamp(t[genl::kAttrTs2]);
	}
}

} // namespace kite
