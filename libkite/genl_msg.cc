// Building and parsing generic netlink messages.
#include "genl_msg.h"

#include <cerrno>
#include <cstring>
#include <linux/netlink.h>

namespace kite::genl {

namespace {

constexpr size_t kHeader = 16;   // struct nlmsghdr
constexpr size_t kGenlHeader = 4; // cmd, version, reserved
constexpr uint16_t kAttrTypeMask = 0x3FFF;

constexpr size_t align4(size_t n)
{
	return (n + 3) & ~size_t(3);
}

void put_u16(std::vector<uint8_t> &out, uint16_t v)
{
	uint8_t b[2];
	std::memcpy(b, &v, 2);
	out.insert(out.end(), b, b + 2);
}

void put_u32(std::vector<uint8_t> &out, uint32_t v)
{
	uint8_t b[4];
	std::memcpy(b, &v, 4);
	out.insert(out.end(), b, b + 4);
}

void put_attr(std::vector<uint8_t> &out, uint16_t type, const void *data, size_t len)
{
	put_u16(out, static_cast<uint16_t>(4 + len));
	put_u16(out, type);
	const auto *p = static_cast<const uint8_t *>(data);
	out.insert(out.end(), p, p + len);
	out.resize(align4(out.size()), 0);
}

std::vector<uint8_t> start(uint16_t type, uint8_t cmd, uint8_t version, uint32_t seq, uint32_t port)
{
	std::vector<uint8_t> out;
	out.reserve(64);
	put_u32(out, 0); // length, set at the end
	put_u16(out, type);
	put_u16(out, kRequestFlags);
	put_u32(out, seq);
	put_u32(out, port);
	out.push_back(cmd);
	out.push_back(version);
	put_u16(out, 0);
	return out;
}

void finish(std::vector<uint8_t> &out)
{
	uint32_t len = static_cast<uint32_t>(out.size());
	std::memcpy(out.data(), &len, 4);
}

uint32_t get_u32(const uint8_t *p)
{
	uint32_t v;
	std::memcpy(&v, p, 4);
	return v;
}

uint16_t get_u16(const uint8_t *p)
{
	uint16_t v;
	std::memcpy(&v, p, 2);
	return v;
}

} // namespace

std::vector<uint8_t> build_request(uint16_t family, uint8_t cmd, uint8_t version, uint32_t seq, uint32_t port,
				   std::span<const Attr32> attrs)
{
	std::vector<uint8_t> out = start(family, cmd, version, seq, port);
	for (const Attr32 &a : attrs)
		put_attr(out, a.type, &a.value, 4);
	finish(out);
	return out;
}

std::vector<uint8_t> build_family_lookup(std::string_view name, uint32_t seq, uint32_t port)
{
	std::vector<uint8_t> out = start(kCtrlFamily, kCtrlGetFamily, 1, seq, port);
	std::vector<char> text(name.begin(), name.end());
	text.push_back('\0');
	put_attr(out, kCtrlAttrFamilyName, text.data(), text.size());
	finish(out);
	return out;
}

bool parse_attrs(const uint8_t *data, size_t len, AttrTable &table)
{
	for (AttrView &a : table)
		a = AttrView{};
	size_t at = 0;
	while (len - at >= 4) {
		uint16_t alen = get_u16(data + at);
		uint16_t type = get_u16(data + at + 2) & kAttrTypeMask;
		if (alen < 4 || alen > len - at)
			return false;
		if (type <= kAttrMax)
			table[type] = AttrView{data + at + 4, static_cast<size_t>(alen - 4)};
		at += std::min(align4(alen), len - at);
	}
	return true;
}

bool attr_u32(const AttrView &a, uint32_t &value)
{
	if (!a.present() || a.len < 4)
		return false;
	value = get_u32(a.data);
	return true;
}

void walk(const uint8_t *data, size_t len, uint32_t seq, const OnMessage &on_message, Ended &ended)
{
	size_t at = 0;
	while (len - at >= kHeader && !ended.done) {
		const uint8_t *h = data + at;
		uint32_t mlen = get_u32(h);
		uint16_t type = get_u16(h + 4);
		if (mlen < kHeader || mlen > len - at)
			return;
		const uint8_t *payload = h + kHeader;
		size_t plen = mlen - kHeader;
		if (get_u32(h + 8) == seq) {
			if (type == NLMSG_ERROR) {
				if (plen < 4)
					return;
				// A positive error is no kernel's answer: the exchange failed.
				int32_t error = static_cast<int32_t>(get_u32(payload));
				ended.done = true;
				ended.error = error > 0 ? -EPROTO : error;
			} else if (type >= NLMSG_MIN_TYPE && plen >= kGenlHeader) {
				on_message(type, payload[0], payload + kGenlHeader, plen - kGenlHeader);
			}
		}
		at += std::min(align4(mlen), len - at);
	}
}

} // namespace kite::genl
