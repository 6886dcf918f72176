// The exact bytes libkite sends through its seam, and what it makes of
// replies, well-formed and hand-made malformed, read where the simulator
// would answer.
#include <libkite/libkite.h>

#include <gtest/gtest.h>

#include <fsroot/fsroot.h>

#include <cstring>
#include <net/if.h>
#include <unistd.h>

#include "fake_switch.h"

namespace {

using kitetest::attr;
using kitetest::attr_u32;
using kitetest::Bytes;
using kitetest::genl;
using kitetest::kFamily;
using kitetest::masked;
using kitetest::nlmsg;
using kitetest::operator+;

// A reply of the family to a request, carrying attrs.
Bytes reply_to(const Bytes &req, const Bytes &attrs)
{
	return nlmsg(kFamily, 0, kitetest::seq_of(req), kitetest::port_of(req), genl(req.at(16), 0, attrs));
}

// The request a test expects, with sequence number and port id zeroed.
Bytes want_request(uint8_t cmd, const Bytes &attrs)
{
	return nlmsg(kFamily, 0x0005, 0, 0, genl(cmd, 0, attrs));
}

class KiteNetlink : public ::testing::Test {
protected:
	void SetUp() override { ASSERT_EQ(libkite_mii_init(), 0); }
	void TearDown() override { libkite_mii_uninit(); }

	// Answers the next requests with a reply carrying attrs, then the acknowledgement.
	void answer(const Bytes &attrs)
	{
		sw_.on_genl([attrs](const Bytes &req) { return std::vector<Bytes>{reply_to(req, attrs), kitetest::ack(req, 0)}; });
	}
	Bytes last() { return sw_.genl_requests().back(); }

	wlctest::TempRoot root_;
	kitetest::FakeSwitch sw_{root_};
};

TEST_F(KiteNetlink, LooksUpTheFamilyFirst)
{
	EXPECT_STREQ(libkite_mii_get_driver_name(), "netlink");
	auto reqs = sw_.genl_requests();
	ASSERT_EQ(reqs.size(), 1u);
	Bytes name = {'m', 't', '7', '5', '3', 'x', 0};
	EXPECT_EQ(masked(reqs[0]), nlmsg(0x10, 0x0005, 0, 0, genl(3, 1, attr(2, name))));
	EXPECT_EQ(kitetest::port_of(reqs[0]), static_cast<uint32_t>(getpid()));
}

TEST_F(KiteNetlink, RegisterRequestBytes)
{
	uint32_t v = 0;
	answer(attr_u32(2, 1) + attr_u32(4, 2) + attr_u32(5, 0x1234));
	EXPECT_EQ(libkite_mii_reg_read(1, 2, &v), 0);
	EXPECT_EQ(v, 0x1234u);
	EXPECT_EQ(masked(last()), want_request(3, attr_u32(2, 1) + attr_u32(4, 2)));

	answer(attr_u32(4, 0x80) + attr_u32(5, 0x8004));
	EXPECT_EQ(libkite_switch_reg_read(0x80, &v), 0);
	EXPECT_EQ(v, 0x8004u);
	EXPECT_EQ(masked(last()), want_request(3, attr_u32(4, 0x80)));

	answer({});
	EXPECT_EQ(libkite_mii_reg_write(3, 4, 0x55), 0);
	EXPECT_EQ(masked(last()), want_request(4, attr_u32(2, 3) + attr_u32(4, 4) + attr_u32(5, 0x55)));
	EXPECT_EQ(libkite_switch_reg_write(0x7C, 0xDEADBEEF), 0);
	EXPECT_EQ(masked(last()), want_request(4, attr_u32(4, 0x7C) + attr_u32(5, 0xDEADBEEF)));

	// Every exchange has a sequence number of its own, from the same port.
	auto reqs = sw_.genl_requests();
	for (size_t i = 1; i < reqs.size(); i++) {
		EXPECT_NE(kitetest::seq_of(reqs[i]), kitetest::seq_of(reqs[i - 1]));
		EXPECT_EQ(kitetest::port_of(reqs[i]), kitetest::port_of(reqs[0]));
	}
}

Bytes u64_bytes(uint64_t v, size_t len)
{
	Bytes b(8);
	std::memcpy(b.data(), &v, 8);
	b.resize(len);
	return b;
}

TEST_F(KiteNetlink, PortTimestamps)
{
	uint64_t ts[2] = {0, 0};
	answer(attr_u32(2, 3) + attr(8, u64_bytes(0x1122334455667788, 8)) + attr(9, u64_bytes(0x0102030405060708, 8)));
	EXPECT_EQ(libkite_switch_port_ts(3, ts), 0);
	EXPECT_EQ(masked(last()), want_request(5, attr_u32(4, 0xFFFFFFFF) + attr_u32(2, 3)));
	EXPECT_EQ(ts[0], 0x1122334455667788u);
	EXPECT_EQ(ts[1], 0x0102030405060708u);
	// Shorter timestamps keep nothing of the earlier ones; longer ones are cut at 8 bytes.
	answer(attr(8, u64_bytes(0x99AA, 2)) + attr(9, u64_bytes(0x0102030405060708, 8) + Bytes{0xEE, 0xEE}));
	EXPECT_EQ(libkite_switch_port_ts(3, ts), 0);
	EXPECT_EQ(ts[0], 0x99AAu);
	EXPECT_EQ(ts[1], 0x0102030405060708u);
	EXPECT_EQ(libkite_switch_port_ts(-1, ts), -22);
}

TEST_F(KiteNetlink, ReadWithoutValueIsAnError)
{
	uint32_t v = 7;
	answer(attr_u32(4, 0x10));
	EXPECT_EQ(libkite_switch_reg_read(0x10, &v), -61);
	EXPECT_EQ(v, 0xFFFFFFFFu);
	// A message beginning "No" voids the reply, however short and unterminated.
	answer(attr(1, {'N', 'o'}) + attr_u32(4, 0x10) + attr_u32(5, 5));
	EXPECT_EQ(libkite_switch_reg_read(0x10, &v), -61);
	EXPECT_EQ(v, 0xFFFFFFFFu);
	answer(attr(1, {'N'}) + attr_u32(4, 0x10) + attr_u32(5, 5));
	EXPECT_EQ(libkite_switch_reg_read(0x10, &v), 0);
	EXPECT_EQ(v, 5u);
}

TEST_F(KiteNetlink, MalformedRepliesCarryNoValue)
{
	uint32_t v = 0;
	// A value attribute of two bytes is no value.
	answer(attr(5, {1, 2}));
	EXPECT_EQ(libkite_switch_reg_read(0x10, &v), -61);
	// An attribute whose length runs past the message voids the reply.
	Bytes overlong = attr_u32(5, 9);
	overlong[0] = 200;
	answer(overlong);
	EXPECT_EQ(libkite_switch_reg_read(0x10, &v), -61);
	// A message longer than its datagram is dropped; the acknowledgement still counts.
	sw_.on_genl([](const Bytes &req) {
		Bytes bad = reply_to(req, attr_u32(5, 9));
		bad[0] = 0xF0;
		return std::vector<Bytes>{bad, kitetest::ack(req, 0)};
	});
	EXPECT_EQ(libkite_switch_reg_read(0x10, &v), -61);
	// A reply of an earlier exchange is not this one's.
	sw_.on_genl([](const Bytes &req) {
		Bytes stale = nlmsg(kFamily, 0, kitetest::seq_of(req) - 1, kitetest::port_of(req), genl(3, 0, attr_u32(5, 7)));
		return std::vector<Bytes>{stale, reply_to(req, attr_u32(5, 9)) + kitetest::ack(req, 0)};
	});
	EXPECT_EQ(libkite_switch_reg_read(0x10, &v), 0);
	EXPECT_EQ(v, 9u);
}

TEST_F(KiteNetlink, ErrorsFromTheDriver)
{
	uint32_t v = 0;
	sw_.on_genl([](const Bytes &req) { return std::vector<Bytes>{kitetest::ack(req, -5)}; });
	EXPECT_EQ(libkite_switch_reg_write(0x10, 1), -5);
	// A positive error is no acknowledgement.
	sw_.on_genl([](const Bytes &req) { return std::vector<Bytes>{kitetest::ack(req, 3)}; });
	EXPECT_EQ(libkite_switch_reg_read(0x10, &v), -71);
}

TEST_F(KiteNetlink, WaitForTheAcknowledgementIsBounded)
{
	sw_.on_genl([](const Bytes &req) { return std::vector<Bytes>{reply_to(req, attr_u32(5, 1))}; });
	uint32_t v = 0;
	EXPECT_EQ(libkite_switch_reg_read(0x10, &v), -110);
	// The next exchange is not confused by the late one.
	answer(attr_u32(5, 2));
	EXPECT_EQ(libkite_switch_reg_read(0x10, &v), 0);
	EXPECT_EQ(v, 2u);
}

TEST(KiteIoctl, FallbackAndRequestBytes)
{
	wlctest::TempRoot root;
	kitetest::FakeSwitch sw(root, false);
	ASSERT_EQ(libkite_mii_init(), 0);
	EXPECT_STREQ(libkite_mii_get_driver_name(), "ioctl");
	EXPECT_EQ(sw.genl_requests().size(), 1u);
	sw.on_eth([](uint32_t, const Bytes &, const uint32_t w[3]) {
		return kitetest::FakeSwitch::EthReply{0, 0, {w[0], w[1], 0xABC}};
	});
	uint32_t v = 0;
	EXPECT_EQ(libkite_switch_reg_read(0x80, &v), 0);
	EXPECT_EQ(v, 0xABCu);
	EXPECT_EQ(libkite_mii_reg_read(2, 1, &v), 0);
	EXPECT_EQ(libkite_mii_reg_write(2, 0, 0x1140), 0);
	EXPECT_EQ(libkite_switch_reg_write(0x7C, 0x55), 0);
	auto reqs = sw.eth_requests();
	ASSERT_EQ(reqs.size(), 4u);
	Bytes ifr(40, 0);
	std::memcpy(ifr.data(), "eth0", 4);
	struct Want {
		uint32_t request, phy, reg, val;
	} want[] = {{0x89F3, 31, 0x80, 0}, {0x89F3, 2, 1, 0}, {0x89F4, 2, 0, 0x1140}, {0x89F4, 31, 0x7C, 0x55}};
	for (size_t i = 0; i < 4; i++) {
		ASSERT_EQ(reqs[i].size(), 56u);
		uint32_t words[4];
		std::memcpy(&words[0], reqs[i].data(), 4);
		std::memcpy(&words[1], reqs[i].data() + 44, 12);
		EXPECT_EQ(words[0], want[i].request);
		EXPECT_EQ(Bytes(reqs[i].begin() + 4, reqs[i].begin() + 44), ifr) << "request " << i;
		EXPECT_EQ(words[1], want[i].phy);
		EXPECT_EQ(words[2], want[i].reg);
		EXPECT_EQ(words[3], want[i].val);
	}
	uint64_t ts[2];
	EXPECT_EQ(libkite_switch_port_ts(1, ts), -95);
	sw.on_eth([](uint32_t, const Bytes &, const uint32_t *) { return kitetest::FakeSwitch::EthReply{-1, 5, {}}; });
	v = 3;
	EXPECT_EQ(libkite_switch_reg_read(0x80, &v), -1);
	EXPECT_EQ(v, 3u);
	EXPECT_EQ(libkite_mii_uninit(), 0);
}

TEST(KiteApi, WithoutBackEnd)
{
	uint32_t v = 0;
	uint64_t ts[2];
	libkite_port_cnt cnt;
	libkite_mac_entry table[2];
	int size = 2;
	auto all_refused = [&] {
		EXPECT_EQ(libkite_mii_get_driver_name(), nullptr);
		EXPECT_EQ(libkite_mii_reg_read(1, 1, &v), -19);
		EXPECT_EQ(libkite_mii_reg_write(1, 1, 0), -19);
		EXPECT_EQ(libkite_switch_reg_read(1, &v), -19);
		EXPECT_EQ(libkite_switch_reg_write(1, 0), -19);
		EXPECT_EQ(libkite_switch_get_port_cnt(0, &cnt), -19);
		EXPECT_EQ(libkite_switch_get_mac_table(table, &size), -19);
		EXPECT_EQ(libkite_switch_port_ts(0, ts), -19);
		EXPECT_EQ(libkite_mii_uninit(), -19);
	};
	all_refused();
	// No simulator answers at all: no back end.
	wlctest::TempRoot empty;
	setenv("WLC_ROOT", empty.path().c_str(), 1);
	wlc::reload_fs_root();
	EXPECT_EQ(libkite_mii_init(), -2);
	all_refused();
	{
		kitetest::FakeSwitch sw(empty);
		ASSERT_EQ(libkite_mii_init(), 0);
		EXPECT_EQ(libkite_mii_uninit(), 0);
	}
	all_refused();
}

TEST(KiteApi, BadArguments)
{
	wlctest::TempRoot root;
	kitetest::FakeSwitch sw(root);
	ASSERT_EQ(libkite_mii_init(), 0);
	libkite_port_cnt cnt;
	std::memset(&cnt, 0xAB, sizeof(cnt));
	libkite_port_cnt before = cnt;
	EXPECT_EQ(libkite_switch_get_port_cnt(8, &cnt), -22);
	EXPECT_EQ(libkite_switch_get_port_cnt(-1, &cnt), -22);
	EXPECT_EQ(std::memcmp(&cnt, &before, sizeof(cnt)), 0);
	uint32_t v;
	EXPECT_EQ(libkite_mii_reg_read(-1, 2, &v), -22);
	EXPECT_EQ(libkite_mii_reg_write(1, -2, 0), -22);
	EXPECT_EQ(libkite_switch_reg_read(-4, &v), -22);
	int size = -1;
	libkite_mac_entry e;
	EXPECT_EQ(libkite_switch_get_mac_table(&e, &size), -22);
	EXPECT_EQ(libkite_switch_get_mac_table(nullptr, &size), -22);
	// Nothing reached the switch.
	EXPECT_EQ(sw.genl_requests().size(), 1u);
	libkite_mii_uninit();
}

} // namespace
