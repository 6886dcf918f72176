// SNTP arithmetic.
#include "ntp_packet.h"

#include <cstring>

namespace vigil::ntp {

namespace {

uint32_t be32(const uint8_t *p)
{
	return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 | p[3];
}

void put_be32(uint8_t *p, uint32_t v)
{
	p[0] = static_cast<uint8_t>(v >> 24);
	p[1] = static_cast<uint8_t>(v >> 16);
	p[2] = static_cast<uint8_t>(v >> 8);
	p[3] = static_cast<uint8_t>(v);
}

int64_t floor_div(int64_t a, int64_t b)
{
	return a / b - (a % b != 0 && (a < 0) != (b < 0) ? 1 : 0);
}

} // namespace

void put_timestamp(uint8_t *at, int64_t ns)
{
	int64_t sec = floor_div(ns, kNsPerSecond);
	int64_t frac_ns = ns - sec * kNsPerSecond;
	put_be32(at, static_cast<uint32_t>(static_cast<uint64_t>(sec + kUnixEpoch)));
	put_be32(at + 4, static_cast<uint32_t>((static_cast<uint64_t>(frac_ns) << 32) / kNsPerSecond));
}

int64_t timestamp_ns(const uint8_t *at, int64_t now_ns)
{
	int64_t now_sec = floor_div(now_ns, kNsPerSecond);
	auto local = static_cast<uint32_t>(static_cast<uint64_t>(now_sec + kUnixEpoch));
	// The signed distance within one era: right across 2036-02-07 as well.
	auto diff = static_cast<int32_t>(be32(at) - local);
	int64_t sec = now_sec + diff;
	int64_t frac = static_cast<int64_t>((static_cast<uint64_t>(be32(at + 4)) * kNsPerSecond) >> 32);
	return sec * kNsPerSecond + frac;
}

Packet request(int64_t t1_ns)
{
	Packet p = {};
	p[0] = 0x23; // leap 0, version 4, mode 3 (client)
	put_timestamp(p.data() + kTransmit, t1_ns);
	return p;
}

std::optional<Measurement> measure(const Packet &reply, int64_t t1_ns, int64_t t4_ns)
{
	int leap = reply[0] >> 6, mode = reply[0] & 0x07, stratum = reply[1];
	bool no_transmit = be32(&reply[kTransmit]) == 0 && be32(&reply[kTransmit + 4]) == 0;
	if (leap == 3 || mode != 4 || stratum == 0 || no_transmit)
		return std::nullopt;
	int64_t t2 = timestamp_ns(&reply[kReceive], t1_ns);
	int64_t t3 = timestamp_ns(&reply[kTransmit], t1_ns);
	Measurement m;
	m.delay_ns = (t4_ns - t1_ns) - (t3 - t2);
	m.offset_ns = ((t2 - t1_ns) + (t3 - t4_ns)) / 2;
	return m;
}

} // namespace vigil::ntp
