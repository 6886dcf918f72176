// libkite's reply readers under untrusted bytes.
#include "genl_inputs.h"

#include "genl_msg.h"
#include "reply.h"

#include <cstring>

namespace wlcfuzz {

namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
void put(Bytes &b, T v)
{
	uint8_t raw[sizeof(T)];
	std::memcpy(raw, &v, sizeof(T));
	b.insert(b.end(), raw, raw + sizeof(T));
}

void attr(Bytes &b, uint16_t type, const Bytes &payload)
{
	put<uint16_t>(b, static_cast<uint16_t>(4 + payload.size()));
	put<uint16_t>(b, type);
	b.insert(b.end(), payload.begin(), payload.end());
	b.resize((b.size() + 3) & ~size_t(3), 0);
}

Bytes u32(uint32_t v)
{
	Bytes b;
	put(b, v);
	return b;
}

Bytes message(uint16_t type, uint8_t cmd, const Bytes &attrs)
{
	Bytes b;
	put<uint32_t>(b, static_cast<uint32_t>(20 + attrs.size()));
	put<uint16_t>(b, type);
	put<uint16_t>(b, 0);
	put<uint32_t>(b, 9);
	put<uint32_t>(b, 4242);
	b.insert(b.end(), {cmd, 0, 0, 0});
	b.insert(b.end(), attrs.begin(), attrs.end());
	return b;
}

Bytes ack(int32_t error)
{
	Bytes b;
	put<uint32_t>(b, 36);
	put<uint16_t>(b, 2);
	put<uint16_t>(b, 0);
	put<uint32_t>(b, 9);
	put<uint32_t>(b, 4242);
	put<int32_t>(b, error);
	b.resize(36, 0);
	return b;
}

} // namespace

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

std::vector<Bytes> genl_seeds()
{
	Bytes read, ts, ctrl, no;
	attr(read, 2, u32(1));
	attr(read, 4, u32(0x80));
	attr(read, 5, u32(0x8004));
	attr(ts, 2, u32(3));
	attr(ts, 8, Bytes(8, 0x11));
	attr(ts, 9, Bytes(6, 0x22));
	attr(ctrl, 1, {0x1A, 0});
	attr(ctrl, 2, {'m', 't', '7', '5', '3', 'x', 0});
	attr(no, 1, {'N', 'o', ' ', 's', 'u', 'c', 'h'});
	attr(no, 5, u32(1));
	auto join = [](Bytes a, const Bytes &b) {
		a.insert(a.end(), b.begin(), b.end());
		return a;
	};
	return {join(message(0x1A, 3, read), ack(0)), join(message(0x1A, 5, ts), ack(0)),
		join(message(0x10, 1, ctrl), ack(0)), join(message(0x1A, 4, no), ack(-5)), ack(-2)};
}

} // namespace wlcfuzz
