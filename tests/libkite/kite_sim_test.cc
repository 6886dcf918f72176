// libkite against the device simulator's switch register model: counters,
// the address table search, PHY registers, timestamps and the fallback to
// the Ethernet driver's requests, followed in the model's register log.
#include <libkite/libkite.h>

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>

#include "harness.h"
#include "sim_site.h"

namespace {

class KiteSim : public ::testing::Test {
protected:
	void start(const std::string &extra = "")
	{
		site_ = std::make_unique<wlctest::SimSite>(root_, std::vector<wlctest::SimDevice>{{"ap1", extra}});
		site_->use("ap1");
		ASSERT_EQ(libkite_mii_init(), 0);
		clear_log();
	}
	void TearDown() override { libkite_mii_uninit(); }

	std::string log_path() const { return site_->root_of("ap1") + "/var/run/zev-sim/switch.log"; }
	void clear_log() const { std::ofstream(log_path(), std::ios::trunc); }
	// The register accesses logged since the last clear, one per line.
	std::vector<std::string> log() const
	{
		std::vector<std::string> out;
		std::ifstream in(log_path());
		for (std::string line; std::getline(in, line);)
			out.push_back(line);
		return out;
	}
	// The addresses the reads and writes of the log went to, as "r 0x..." / "w 0x...".
	std::vector<std::string> trace() const
	{
		std::vector<std::string> out;
		for (const std::string &l : log()) {
			std::istringstream in(l);
			std::string via, op, reg;
			in >> via >> op >> reg;
			out.push_back((op == "read" ? "r " : "w ") + reg);
		}
		return out;
	}
	void script(const std::string &cmd) const { ASSERT_EQ(site_->command(cmd), "ok") << cmd; }

	wlctest::TempRoot root_;
	std::unique_ptr<wlctest::SimSite> site_;
};

std::string reg(uint32_t r)
{
	char b[16];
	std::snprintf(b, sizeof(b), "0x%08x", r);
	return b;
}

TEST_F(KiteSim, PortCountersAndTheirRegisterTrace)
{
	start();
	EXPECT_STREQ(libkite_mii_get_driver_name(), "netlink");
	libkite_port_cnt c;
	ASSERT_EQ(libkite_switch_get_port_cnt(1, &c), 0);
	// The device's port 1: the same counters the switch configuration library shows.
	EXPECT_EQ(c.tx_unicast, 2000u);
	EXPECT_EQ(c.tx_multicast, 3u);
	EXPECT_EQ(c.tx_broadcast, 7u);
	EXPECT_EQ(c.tx_pkts, 2010u);
	EXPECT_EQ(c.rx_unicast, 4000u);
	EXPECT_EQ(c.rx_pkts, 4000u);
	EXPECT_EQ(c.tx_bytes, 3000000u);
	EXPECT_EQ(c.rx_bytes, 6000000u);
	std::vector<std::string> want;
	for (uint32_t off : {0xACu, 0xA8u, 0xACu, 0x4Cu, 0x48u, 0x4Cu, 0x68u, 0x6Cu, 0x70u, 0x08u, 0x0Cu, 0x10u, 0x60u,
			     0x8Cu, 0x78u, 0x00u, 0x2Cu, 0x04u})
		want.push_back("r " + reg(0x4100 + off));
	EXPECT_EQ(trace(), want);
	EXPECT_EQ(log().front().rfind("netlink read 0x000041ac 0x00000000", 0), 0u);
}

TEST_F(KiteSim, WideCounterCarryingBetweenReadsIsReadAgain)
{
	start();
	// Each read of the low word adds 0x20: the first low read carries into the high word.
	script("switch counter ap1 2 0xA8 0xFFFFFFF0 0x20");
	script("switch counter ap1 2 0x2C 77");
	libkite_port_cnt c;
	ASSERT_EQ(libkite_switch_get_port_cnt(2, &c), 0);
	EXPECT_EQ(c.rx_bytes, 0x100000010u);
	EXPECT_EQ(c.tx_pause, 77u);
	auto t = trace();
	ASSERT_GE(t.size(), 6u);
	std::vector<std::string> first6(t.begin(), t.begin() + 6);
	EXPECT_EQ(first6, (std::vector<std::string>{"r 0x000042ac", "r 0x000042a8", "r 0x000042ac", "r 0x000042ac",
						    "r 0x000042a8", "r 0x000042ac"}));
}

TEST_F(KiteSim, AddressTableDump)
{
	start();
	script("switch fdb ap1 5 00:11:22:33:44:55 10 0x03 0x10");        // port 0 and 1, ageing
	script("switch fdb ap1 9 aa:bb:cc:dd:ee:ff 4095 0x80 0xFF 3 1 5"); // port 7, static, not ageing
	libkite_mac_entry table[8];
	std::memset(table, 0xFF, sizeof(table));
	int size = 8;
	ASSERT_EQ(libkite_switch_get_mac_table(table, &size), 0);
	EXPECT_EQ(size, 2);
	EXPECT_EQ(table[0].port_map, 0x03u);
	EXPECT_EQ(table[0].vid, 10);
	EXPECT_EQ(table[0].age, 298 - 2 * 0x10);
	const uint8_t mac0[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
	EXPECT_EQ(std::memcmp(table[0].mac, mac0, 6), 0);
	// Flag bits 3-5 were the caller's (set in the 0xFF fill) and stay.
	EXPECT_EQ(table[0].flags, 0x38);
	EXPECT_EQ(table[1].port_map, 0x80u);
	EXPECT_EQ(table[1].vid, 4095);
	EXPECT_EQ(table[1].age, 0);
	const uint8_t mac1[6] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
	EXPECT_EQ(std::memcmp(table[1].mac, mac1, 6), 0);
	EXPECT_EQ(table[1].flags, 0x38 | 0x40 | 0x80 | 5);
	// The slot of the step that ended the search holds no stale bytes.
	EXPECT_EQ(table[2].port_map, 0u);
	EXPECT_EQ(table[2].vid, 0);
	EXPECT_EQ(table[2].mac[0], 0);
	std::vector<std::string> want;
	for (uint32_t r = 0x100; r <= 0x11C; r += 4)
		want.push_back("r " + reg(r));
	want.push_back("w " + reg(0x80));
	for (int step = 0; step < 2; step++) {
		for (uint32_t r : {0x80u, 0x8Cu, 0x84u, 0x88u})
			want.push_back("r " + reg(r));
		want.push_back("w " + reg(0x80));
	}
	want.push_back("r " + reg(0x80));
	EXPECT_EQ(trace(), want);
	auto lines = log();
	EXPECT_EQ(lines[8], "netlink write 0x00000080 0x00008004");
	EXPECT_EQ(lines[13], "netlink write 0x00000080 0x00008005");
	EXPECT_EQ(lines.back(), "netlink read 0x00000080 0x07ff4000");
}

TEST_F(KiteSim, AddressTableEdges)
{
	start();
	// An entry at the last address ends the search and is counted.
	script("switch fdb ap1 3 02:00:00:00:00:01 1 0x01 0x00");
	script("switch fdb ap1 0x7FF 02:00:00:00:00:02 1 0x02 0xA0");
	libkite_mac_entry table[4] = {};
	int size = 4;
	ASSERT_EQ(libkite_switch_get_mac_table(table, &size), 0);
	EXPECT_EQ(size, 2);
	EXPECT_EQ(table[1].mac[5], 2);
	// An age timer past 149 would make the age negative: it is 0.
	EXPECT_EQ(table[1].age, 0);
	EXPECT_EQ(table[0].age, 298);
	// Capacity bounds the steps.
	size = 1;
	ASSERT_EQ(libkite_switch_get_mac_table(table, &size), 0);
	EXPECT_EQ(size, 1);
	// A search busy for a few polls is waited for; one busy for ten is given up.
	script("switch busy ap1 9");
	size = 4;
	EXPECT_EQ(libkite_switch_get_mac_table(table, &size), 0);
	EXPECT_EQ(size, 2);
	script("switch busy ap1 10");
	EXPECT_EQ(libkite_switch_get_mac_table(table, &size), -11);
}

TEST_F(KiteSim, EndOnTheThirdStepCountsTwo)
{
	start();
	script("switch fdb ap1 1 02:00:00:00:00:01 1 0x01 0x00");
	script("switch fdb ap1 2 02:00:00:00:00:02 1 0x01 0x00");
	libkite_mac_entry table[16];
	int size = 16;
	ASSERT_EQ(libkite_switch_get_mac_table(table, &size), 0);
	EXPECT_EQ(size, 2);
}

TEST_F(KiteSim, PhyRegistersAndTimestamps)
{
	start();
	uint32_t v = 0;
	ASSERT_EQ(libkite_mii_reg_read(0, 2, &v), 0);
	EXPECT_EQ(v, 0x03a2u);
	ASSERT_EQ(libkite_mii_reg_write(1, 0, 0x3100), 0);
	ASSERT_EQ(libkite_mii_reg_read(1, 0, &v), 0);
	EXPECT_EQ(v, 0x3100u);
	// The driver answers "No such PHY": no value, an error.
	EXPECT_EQ(libkite_mii_reg_read(31, 0, &v), -61);
	EXPECT_EQ(v, 0xFFFFFFFFu);
	ASSERT_EQ(libkite_switch_reg_write(0x7C, 0xCAFE), 0);
	ASSERT_EQ(libkite_switch_reg_read(0x7C, &v), 0);
	EXPECT_EQ(v, 0xCAFEu);
	script("switch ts ap1 4 1000000 2000000");
	uint64_t ts[2] = {};
	ASSERT_EQ(libkite_switch_port_ts(4, ts), 0);
	EXPECT_EQ(ts[0], 1000000u);
	EXPECT_EQ(ts[1], 2000000u);
	EXPECT_EQ(log(), (std::vector<std::string>{"netlink phy-read 0 0x02 0x03a2", "netlink phy-write 1 0x00 0x3100",
						   "netlink phy-read 1 0x00 0x3100", "netlink write 0x0000007c 0x0000cafe",
						   "netlink read 0x0000007c 0x0000cafe", "netlink port-ts 4"}));
}

TEST_F(KiteSim, WithoutTheFamilyTheEthernetDriverServes)
{
	start("\"switch_netlink\": false");
	EXPECT_STREQ(libkite_mii_get_driver_name(), "ioctl");
	uint32_t v = 0;
	ASSERT_EQ(libkite_mii_reg_read(0, 3, &v), 0);
	EXPECT_EQ(v, 0x9441u);
	libkite_port_cnt c;
	ASSERT_EQ(libkite_switch_get_port_cnt(0, &c), 0);
	EXPECT_EQ(c.tx_unicast, 1000u);
	uint64_t ts[2];
	EXPECT_EQ(libkite_switch_port_ts(0, ts), -95);
	script("switch fdb ap1 7 02:00:00:00:00:07 1 0x04 0x01");
	libkite_mac_entry table[4];
	int size = 4;
	ASSERT_EQ(libkite_switch_get_mac_table(table, &size), 0);
	EXPECT_EQ(size, 1);
	EXPECT_EQ(table[0].port_map, 0x04u);
	auto lines = log();
	ASSERT_FALSE(lines.empty());
	EXPECT_EQ(lines.front(), "ioctl phy-read 0 0x03 0x9441");
	for (const std::string &l : lines)
		EXPECT_EQ(l.rfind("ioctl ", 0), 0u) << l;
}

TEST(KiteLibrary, ExportsOnlyItsOwnNames)
{
	wlctest::RunResult r = wlctest::run({"/usr/bin/nm", "-D", "--defined-only", std::string(WLC_BUILD_DIR) + "/libkite/libkite.so"});
	ASSERT_EQ(r.status, 0);
	std::istringstream in(r.out);
	int names = 0;
	for (std::string line; std::getline(in, line);) {
		std::string addr, kind, name;
		std::istringstream(line) >> addr >> kind >> name;
		EXPECT_EQ(name.rfind("libkite_", 0), 0u) << name;
		names++;
	}
	EXPECT_EQ(names, 10);
}

} // namespace
