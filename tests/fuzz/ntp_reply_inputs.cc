// vigil's NTP reply reader under untrusted datagrams.
#include "ntp_reply_inputs.h"

#include <cstring>

#include "ntp_packet.h"

namespace wlcfuzz {

namespace {

uint64_t word(const uint8_t *data, size_t size, size_t at)
{
	uint64_t v = 0;
	if (size >= at + 8)
		std::memcpy(&v, data + at, 8);
	return v;
}

} // namespace

void ntp_reply_one_input(const uint8_t *data, size_t size)
{
	if (size < vigil::ntp::kPacketSize)
		return;
	vigil::ntp::Packet reply;
	std::memcpy(reply.data(), data, reply.size());
	// A clock between 1970 and 2116 (what a device clock can read), and an
	// answer within about four seconds; 2026-12-08 without further bytes.
	int64_t t1 = 1796688000 * vigil::ntp::kNsPerSecond;
	if (size >= 56)
		t1 = static_cast<int64_t>(word(data, size, 48) >> 2);
	int64_t t4 = t1 + static_cast<int64_t>(word(data, size, 56) & 0xFFFFFFFF);
	// The request sent at t1 (the reply is matched to it by its originate time).
	(void)vigil::ntp::request(t1);
	if (auto m = vigil::ntp::measure(reply, t1, t4))
		(void)(m->offset_ns / vigil::ntp::kNsPerSecond + m->delay_ns % vigil::ntp::kNsPerSecond);
}

} // namespace wlcfuzz
