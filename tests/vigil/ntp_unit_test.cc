// SNTP timestamps and measurements.
#include <gtest/gtest.h>

#include "ntp_packet.h"

namespace {

using namespace vigil::ntp;

constexpr int64_t kSec = 1000000000;

TEST(NtpTimestamp, RoundTripInBothEras)
{
	// 2026, and 2040 (after NTP's seconds wrapped on 2036-02-07).
	for (int64_t now : {int64_t{1796000000} * kSec + 123456789, int64_t{2208988800} * kSec + 987654321}) {
		uint8_t ts[8];
		put_timestamp(ts, now);
		EXPECT_NEAR(static_cast<double>(timestamp_ns(ts, now)), static_cast<double>(now), 2.0);
		// A timestamp a minute away from the local clock, across the wrap too.
		put_timestamp(ts, now - 60 * kSec);
		EXPECT_NEAR(static_cast<double>(timestamp_ns(ts, now)), static_cast<double>(now - 60 * kSec), 2.0);
	}
	// Just before and after the wrap.
	int64_t wrap = (int64_t{1} << 32) - kUnixEpoch;
	uint8_t ts[8];
	put_timestamp(ts, (wrap + 5) * kSec);
	EXPECT_EQ(timestamp_ns(ts, (wrap - 5) * kSec), (wrap + 5) * kSec);
}

Packet reply(int64_t t2, int64_t t3, uint8_t first = 0x24, uint8_t stratum = 2)
{
	Packet p = {};
	p[0] = first;
	p[1] = stratum;
	put_timestamp(&p[kReceive], t2);
	put_timestamp(&p[kTransmit], t3);
	return p;
}

TEST(NtpMeasure, OffsetAndDelayWithTheirSigns)
{
	int64_t t1 = int64_t{1796000000} * kSec;
	// Server half a second behind, 10 ms each way, 2 ms inside the server.
	auto m = measure(reply(t1 + 10000000 - 500000000, t1 + 12000000 - 500000000), t1, t1 + 22000000);
	ASSERT_TRUE(m);
	EXPECT_NEAR(static_cast<double>(m->offset_ns), -500000000.0, 2.0);
	EXPECT_NEAR(static_cast<double>(m->delay_ns), 20000000.0, 2.0);
	m = measure(reply(t1 + 1500000000, t1 + 1500000000), t1, t1);
	ASSERT_TRUE(m);
	EXPECT_NEAR(static_cast<double>(m->offset_ns), 1500000000.0, 2.0);
}

TEST(NtpMeasure, UnusableReplies)
{
	int64_t t1 = int64_t{1796000000} * kSec;
	EXPECT_FALSE(measure(reply(t1, t1, 0xE4), t1, t1));        // unsynchronised
	EXPECT_FALSE(measure(reply(t1, t1, 0x23), t1, t1));        // a client, not a server
	EXPECT_FALSE(measure(reply(t1, t1, 0x24, 0), t1, t1));     // kiss-o'-death
	Packet p = reply(t1, t1);
	std::fill(p.begin() + kTransmit, p.end(), 0);
	EXPECT_FALSE(measure(p, t1, t1));                          // no transmit time
	EXPECT_TRUE(measure(reply(t1, t1), t1, t1));
}

TEST(NtpRequest, ClientVersionFourWithItsSendTime)
{
	int64_t t1 = int64_t{1796000000} * kSec + 250000000;
	Packet p = request(t1);
	EXPECT_EQ(p[0], 0x23);
	EXPECT_NEAR(static_cast<double>(timestamp_ns(&p[kTransmit], t1)), static_cast<double>(t1), 2.0);
	EXPECT_EQ(p[kTransmit + 4], 0x40); // a quarter second
}

} // namespace
