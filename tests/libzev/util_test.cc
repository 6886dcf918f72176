// Network helpers, VLAN discovery, LEDs, retries and the KEY=value reader.
#include <zev/util.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstring>
#include <chrono>
#include <filesystem>
#include <sys/socket.h>

#include "harness.h"
#include "sim_site.h"

namespace {

TEST(Net, AddressesAndPrefixes)
{
	EXPECT_EQ(zev_net_mask_to_prefix(0xFFFFFF00), 24);
	EXPECT_EQ(zev_net_mask_to_prefix(0xFFFFFFFF), 32);
	EXPECT_EQ(zev_net_mask_to_prefix(0), 0);
	EXPECT_EQ(zev_net_mask_to_prefix(0xFF00FF00), -1);
	EXPECT_EQ(zev_net_mask_to_prefix(0x80000000), 1);
	uint32_t a = 0;
	EXPECT_EQ(zev_net_str_to_addr("10.0.0.1", &a), 0);
	EXPECT_EQ(a, 0x0A000001u);
	EXPECT_EQ(zev_net_str_to_addr("10.0.0", &a), -1);
	char buf[16];
	EXPECT_EQ(zev_net_ipv4_to_str(htonl(0xC0A80101), buf), 0);
	EXPECT_STREQ(buf, "192.168.1.1");
	EXPECT_EQ(zev_net_max_prefix_len(AF_INET), 32);
	EXPECT_EQ(zev_net_max_prefix_len(AF_INET6), 128);
	EXPECT_EQ(zev_net_max_prefix_len(28), 20);
	EXPECT_EQ(zev_net_max_prefix_len(AF_UNIX), 0);
}

TEST(Util, RetryWithTimeLimit)
{
	int calls = 0;
	auto at_once = [](void *user, int64_t) { ++*static_cast<int *>(user); return true; };
	EXPECT_EQ(zev_util_retry_timeout(500, at_once, &calls), 0);
	EXPECT_EQ(calls, 1);
	auto never = [](void *, int64_t remaining) {
		EXPECT_GT(remaining, 0);
		EXPECT_LE(remaining, 100);
		return false;
	};
	auto start = std::chrono::steady_clock::now();
	EXPECT_EQ(zev_util_retry_timeout(100, never, nullptr), -1);
	auto took = std::chrono::steady_clock::now() - start;
	// Elapsed time counts whole seconds and nanoseconds apart, each cut to
	// milliseconds, so the limit may run out up to 1 ms early.
	EXPECT_GE(took, std::chrono::milliseconds(99));
	calls = 0;
	EXPECT_EQ(zev_util_retry_timeout(0, at_once, &calls), -1);
	EXPECT_EQ(calls, 0);
}

TEST(Util, KeyValueReader)
{
	wlctest::TempRoot root;
	std::string file = root.at("/etc/kv");
	wlctest::write_text(file, "A='x y'\nB=\"\"\nC='\nno equals here\nD=v=w\nE=\"mixed'\n");
	std::vector<std::pair<std::string, std::string>> got;
	auto cb = [](const char *k, const char *v, void *user) {
		static_cast<std::vector<std::pair<std::string, std::string>> *>(user)->emplace_back(k, v);
	};
	ASSERT_EQ(zev_util_keyval_read(file.c_str(), cb, &got), 0);
	std::vector<std::pair<std::string, std::string>> want = {
		{"A", "x y"}, {"B", ""}, {"C", "'"}, {"D", "v=w"}, {"E", "\"mixed'"}};
	EXPECT_EQ(got, want);
	EXPECT_EQ(zev_util_keyval_read("/nonexistent/kv", cb, &got), -1);
}

class SimTree : public ::testing::Test {
protected:
	void SetUp() override
	{
		site_ = std::make_unique<wlctest::SimSite>(root_, std::vector<wlctest::SimDevice>{
			{"ap1", R"("model": "zev-ap1", "vlans": [20, 4095])"}});
		site_->use("ap1");
	}
	std::string path(const std::string &abs) const { return site_->root_of("ap1") + abs; }

	wlctest::TempRoot root_;
	std::unique_ptr<wlctest::SimSite> site_;
};

TEST_F(SimTree, SysfsAttributesAndVlans)
{
	char buf[32];
	ASSERT_EQ(zev_net_iface_sys_param("ra0", "operstate", buf, sizeof(buf)), 0);
	EXPECT_STREQ(buf, "up");
	EXPECT_EQ(zev_net_iface_sys_param("nope0", "operstate", buf, sizeof(buf)), -1);
	EXPECT_EQ(zev_net_iface_vlan("eth0.100"), 100); // from the name alone
	EXPECT_EQ(zev_net_iface_brif_vlan("br-con"), 5);
	EXPECT_EQ(zev_net_iface_brif_vlan("br-vlan20"), 20);
	EXPECT_EQ(zev_net_iface_brif_vlan("br-vlan4095"), -1); // out of range
	EXPECT_EQ(zev_net_iface_brif_vlan("br-none"), -1);
	EXPECT_EQ(zev_net_iface_vlan("ra0"), 5);  // its bridge is br-con
	EXPECT_EQ(zev_net_iface_vlan("eth0"), -1); // not in a bridge
}

TEST_F(SimTree, LedsSteadyAndBlinking)
{
	ASSERT_EQ(zev_led_set_const("sys", 255, 128, 0), 0);
	std::string led = path("/sys/class/leds/zev-ap1:");
	EXPECT_EQ(wlctest::read_text(led + "red:sys/trigger"), "none");
	EXPECT_EQ(wlctest::read_text(led + "red:sys/brightness"), "255");
	EXPECT_EQ(wlctest::read_text(led + "green:sys/brightness"), "128");
	EXPECT_EQ(wlctest::read_text(led + "blue:sys/brightness"), "0");
	ASSERT_EQ(zev_led_set_blink("sys", 0, 0, 255, 500, 1500), 0);
	EXPECT_EQ(wlctest::read_text(led + "blue:sys/trigger"), "timer");
	EXPECT_EQ(wlctest::read_text(led + "blue:sys/delay_on"), "500");
	EXPECT_EQ(wlctest::read_text(led + "green:sys/delay_off"), "1500");
	EXPECT_EQ(wlctest::read_text(led + "blue:sys/brightness"), "255");

	// One colour missing: nothing is written to any brightness.
	std::filesystem::remove_all(led + "green:sys");
	wlctest::write_text(led + "red:sys/brightness", "7");
	EXPECT_EQ(zev_led_set_const("sys", 1, 2, 3), -1);
	EXPECT_EQ(wlctest::read_text(led + "red:sys/brightness"), "7");
	EXPECT_EQ(zev_led_set_const("nosuchled", 1, 2, 3), -1);
}

} // namespace

namespace {

TEST_F(SimTree, SwitchPortsThroughTheSwitchLibrary)
{
	uint64_t v = 0;
	EXPECT_EQ(zev_switch_port_stat(1, "TxByte", &v), -1); // nothing loaded yet
	ASSERT_EQ(zev_switch_load_dev(), 0);
	ASSERT_EQ(zev_switch_port_stat(1, "TxByte", &v), 0);
	EXPECT_EQ(v, 3000000u);
	EXPECT_EQ(zev_switch_port_stat(1, "NoSuchCounter", &v), -1);
	EXPECT_EQ(zev_switch_port_stat(1, nullptr, &v), -1);
	struct zev_switch_port_link link;
	std::memset(&link, 0, sizeof(link));
	link.reserved = 5;
	ASSERT_EQ(zev_switch_port_link(0, &link), 0);
	EXPECT_EQ(link.link, 1);
	EXPECT_EQ(link.duplex, 1);
	EXPECT_EQ(link.aneg, 1);
	EXPECT_EQ(link.speed, 1000u);
	EXPECT_EQ(link.reserved, 5); // bits 5..7 stay as they were
	ASSERT_EQ(zev_switch_port_link(4, &link), 0);
	EXPECT_EQ(link.link, 0);
	int vid = 0;
	ASSERT_EQ(zev_switch_port_vid(0, &vid), 0);
	EXPECT_EQ(vid, 5);
	EXPECT_EQ(zev_switch_port_vid(9, &vid), -1);
	zev_switch_free();
	EXPECT_EQ(zev_switch_port_vid(0, &vid), -1);
}

} // namespace
