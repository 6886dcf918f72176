// The simulator's event datagrams and device trees, byte for byte.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "device/device_root.h"
#include "driver/events.h"
#include "driver/requests.h"
#include "harness.h"

namespace {

uint32_t le(const std::vector<uint8_t> &b, size_t at, int bytes)
{
	uint32_t v = 0;
	for (int i = bytes - 1; i >= 0; i--)
		v = (v << 8) | b[at + static_cast<size_t>(i)];
	return v;
}

TEST(SimEvents, LinkMessageLayout)
{
	sim::Station sta;
	sta.mac = {1, 2, 3, 4, 5, 6};
	sta.rssi = -42;
	sta.aid = 7;
	auto m = sim::events::sta_join(12, sta, true);
	ASSERT_EQ(m.size() % 4, 0u);
	EXPECT_EQ(le(m, 0, 4), m.size());       // netlink length
	EXPECT_EQ(le(m, 4, 2), 16u);            // RTM_NEWLINK
	EXPECT_EQ(le(m, 20, 4), 12u);           // interface index
	EXPECT_EQ(le(m, 34, 2), 11u);           // IFLA_WIRELESS
	EXPECT_EQ(le(m, 32, 2), 4u + 16 + 96);  // attribute length
	EXPECT_EQ(le(m, 36, 2), 16u + 96);      // event length
	EXPECT_EQ(le(m, 38, 2), 0x8C02u);       // IWEVCUSTOM
	EXPECT_EQ(le(m, 44, 2), 96u);           // payload length
	EXPECT_EQ(le(m, 46, 2), 0x0647u);       // event id
	const size_t p = 52;                    // payload
	EXPECT_EQ(m[p + 1], 8);
	EXPECT_EQ(le(m, p + 2, 4), 12u);
	EXPECT_EQ(m[p + 6], 1);
	EXPECT_EQ(m[p + 11], 6);
	EXPECT_EQ(le(m, p + 12, 2), 7u);
	EXPECT_EQ(static_cast<int8_t>(m[p + 25]), -42);
	EXPECT_EQ(m[p + 90], 1);

	sim::ChannelLoad load{50, 20, 3};
	auto s = sim::events::chan_stats(3, 44, load, 4);
	EXPECT_EQ(s[p + 37], 44);
	EXPECT_EQ(le(s, p + 59, 4), 2000u); // busy sum over 4 samples
	EXPECT_EQ(le(s, p + 64, 2), 4u);
	EXPECT_EQ(le(s, p + 66, 4), 80u);
}

TEST(SimDevice, FactoryImageAndStationTable)
{
	sim::DeviceSpec dev;
	auto img = sim::factory_image(dev);
	ASSERT_EQ(img.size(), sim::kFactorySize);
	EXPECT_EQ(0, std::memcmp(img.data() + 0xE000, dev.lan_mac.data(), 6));
	EXPECT_EQ(std::string(reinterpret_cast<char *>(img.data() + 0x1FFF80)), dev.serial);
	EXPECT_EQ(img[0x1FFE7C], 'P');
	EXPECT_EQ(img[0x30000], 0xFF); // erased flash elsewhere

	sim::Station st;
	st.mac = {9, 9, 9, 9, 9, 9};
	st.hostname = std::string(40, 'x'); // longer than the field
	auto table = sim::station_table({st});
	ASSERT_EQ(table.size(), 60936u);
	EXPECT_EQ(le(table, 0, 4), 1u);
	EXPECT_EQ(table[8 + 1], 9);
	EXPECT_EQ(le(table, 8 + 20, 2), 0x4287u);
	EXPECT_EQ(table[8 + 111], 'x'); // 32 bytes, no terminator: the reader adds it
}

TEST(SimDevice, RootTree)
{
	wlctest::TempRoot root;
	sim::DeviceSpec dev;
	dev.root = root.path() + "/ap1";
	sim::lay_out(dev);
	sim::lay_out(dev); // laying out again over an existing root works
	namespace fs = std::filesystem;
	EXPECT_TRUE(fs::is_symlink(dev.root + "/sys/class/net/br-con/brif/eth0.5"));
	EXPECT_EQ(fs::canonical(dev.root + "/sys/class/net/ra0/brport/bridge"), fs::canonical(dev.root + "/sys/class/net/br-con"));
	EXPECT_EQ(wlctest::read_text(dev.root + "/sys/class/net/rai0/ifindex"), "8\n");
	EXPECT_TRUE(fs::exists(dev.root + "/sys/class/leds/zev-ap1:green:sys/delay_on"));
	EXPECT_NE(wlctest::read_text(dev.root + "/etc/factory.json").find("\"0x80!\""), std::string::npos);
	EXPECT_NE(wlctest::read_text(dev.root + "/proc/mtd").find("mtd3: 00200000 00010000 \"Factory\""), std::string::npos);
}

} // namespace
