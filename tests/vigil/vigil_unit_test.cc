// vigil's option parsing and CPU sampler, in process.
#include <gtest/gtest.h>

#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "cpu_sampler.h"
#include "harness.h"
#include "options.h"
#include "radio.h"
#include "scan.h"

namespace {

class InRoot : public wlctest::InRootTest {
protected:
	// A /proc/stat whose summary line has these busy and idle jiffies.
	void stat(uint64_t user, uint64_t idle, uint64_t iowait = 0)
	{
		wlctest::write_text(root_.at("/proc/stat"), "cpu  " + std::to_string(user) + " 0 0 " + std::to_string(idle) +
								   " " + std::to_string(iowait) + " 0 0 0 0 0\n"
								   "cpu0 1 2 3 4 5 6 7 8 0 0\n");
	}
};

using Options = InRoot;

vigil::WlanMap parse(std::vector<std::string> args)
{
	args.insert(args.begin(), "vigil");
	std::vector<char *> argv;
	for (std::string &a : args)
		argv.push_back(a.data());
	return vigil::parse_options(static_cast<int>(argv.size()), argv.data());
}

TEST_F(Options, IndexAndWlanNameAreSplitAtTheFirstTwoColons)
{
	std::string log = root_.path() + "/log";
	setenv("WLC_LOG_FILE", log.c_str(), 1);
	wlc::log_open("vigil");
	auto map = parse({"-i", "wlan0:1:guest", "-i", "wlan1:2:a:b", "-i", "wlan2", "-x", "-i", "wlan3:7:"});
	wlc::log_close();
	unsetenv("WLC_LOG_FILE");
	ASSERT_EQ(map.size(), 3u);
	EXPECT_EQ(map["wlan0"].bss_index, 1);
	EXPECT_EQ(map["wlan0"].wlan, "guest");
	EXPECT_EQ(map["wlan1"].bss_index, 2);
	EXPECT_EQ(map["wlan1"].wlan, "a:b");
	EXPECT_EQ(map["wlan3"].wlan, "");
	EXPECT_EQ(map.count("wlan2"), 0u);
	std::string text = wlctest::read_text(log);
	EXPECT_NE(text.find("vigil.debug: config: ifname wlan0 runs bssid 1 wlan guest\n"), std::string::npos) << text;
	EXPECT_NE(text.find("vigil.debug: config: ifname wlan1 runs bssid 2 wlan a:b\n"), std::string::npos) << text;
	EXPECT_NE(text.find("vigil.debug: Bad option 'i' value: 'wlan2'\n"), std::string::npos) << text;
}

TEST_F(Options, ALaterValueReplacesTheEarlierOne)
{
	auto map = parse({"-i", "wlan0:1:guest", "-i", "wlan0:3:staff"});
	ASSERT_EQ(map.size(), 1u);
	EXPECT_EQ(map["wlan0"].bss_index, 3);
	EXPECT_EQ(map["wlan0"].wlan, "staff");
}

using Jiffies = InRoot;

TEST_F(Jiffies, LinesBeforeTheSummaryArePassedOver)
{
	// A line that does not match must not stop (or stall) the search.
	wlctest::write_text(root_.at("/proc/stat"), "intr 1 2 3\nbogus line\ncpu  10 1 2 100 3 4 5 6 0 0\n");
	auto j = vigil::read_cpu_jiffies("/proc/stat");
	ASSERT_TRUE(j);
	EXPECT_EQ(j->busy, 10u + 1 + 2 + 3 + 4 + 5 + 6); // iowait counts as busy
	EXPECT_EQ(j->total, j->busy + 100);
}

TEST_F(Jiffies, NoSummaryOrNoFileGivesNothing)
{
	wlctest::write_text(root_.at("/proc/stat"), "cpu0 1 2 3 4 5 6 7 8\nintr 1\ncpu  1 2 3\n");
	EXPECT_FALSE(vigil::read_cpu_jiffies("/proc/stat"));
	EXPECT_FALSE(vigil::read_cpu_jiffies("/proc/nonexistent"));
}

using Sampler = InRoot;

TEST_F(Sampler, NoSampleYetReadsZero)
{
	vigil::CpuSampler s;
	EXPECT_EQ(s.percentages(), (std::array<uint32_t, 3>{0, 0, 0}));
}

TEST_F(Sampler, ThreeSamplesAverageTheSameThreeEverywhere)
{
	vigil::CpuSampler s;
	stat(100, 300); // 25 % since boot
	s.sample();
	stat(150, 350); // +50 busy, +50 idle: 50 %
	s.sample();
	stat(150, 450); // idle only: 0 %
	s.sample();
	EXPECT_EQ(s.count(), 3u);
	EXPECT_EQ(s.percentages(), (std::array<uint32_t, 3>{0, 25, 25}));
}

TEST_F(Sampler, UnchangedCountersCountAsFullyBusy)
{
	vigil::CpuSampler s;
	stat(100, 300);
	s.sample();
	s.sample();
	EXPECT_EQ(s.percentages()[0], 100u);
}

TEST_F(Sampler, PercentagesAreTruncated)
{
	vigil::CpuSampler s;
	stat(0, 0);
	s.sample();
	stat(12999, 87001, 0);
	s.sample();
	EXPECT_EQ(s.percentages()[0], 12u);
}

TEST_F(Sampler, MissingFileSkipsTheSample)
{
	vigil::CpuSampler s;
	s.sample();
	EXPECT_EQ(s.count(), 0u);
	stat(10, 30);
	s.sample();
	EXPECT_EQ(s.count(), 1u);
	EXPECT_EQ(s.percentages()[0], 25u);
}

TEST_F(Sampler, SixtySamplesAreKeptTheOldestFallOut)
{
	vigil::CpuSampler s;
	uint64_t busy = 0, idle = 0;
	// 10 fully busy periods, then 60 idle ones: the busy ones are gone.
	for (int i = 0; i < 70; i++) {
		(i < 10 ? busy : idle) += 100;
		stat(busy, idle);
		s.sample();
	}
	EXPECT_EQ(s.count(), 60u);
	EXPECT_EQ(s.percentages(), (std::array<uint32_t, 3>{0, 0, 0}));
	busy += 100;
	stat(busy, idle);
	s.sample();
	EXPECT_EQ(s.percentages()[0], 100u);
	EXPECT_EQ(s.percentages()[1], 8u);  // 1 of 12
	EXPECT_EQ(s.percentages()[2], 1u);  // 1 of 60
}

TEST(RadioMac, BaseMacPlusIndexLessOneWithCarries)
{
	vigil::MacBytes base = {0x00, 0x11, 0x22, 0x33, 0x44, 0xff};
	EXPECT_EQ(vigil::radio_mac(base, 2), (vigil::MacBytes{0x00, 0x11, 0x22, 0x33, 0x45, 0x00}));
	EXPECT_EQ(vigil::radio_mac(base, 1), base);
	// Radio 0 adds index - 1 as an unsigned 32-bit number, 2^32 - 1, whose
	// carry reaches the second byte.
	EXPECT_EQ(vigil::radio_mac(base, 0), (vigil::MacBytes{0x00, 0x12, 0x22, 0x33, 0x44, 0xfe}));
	vigil::MacBytes top = {0xff, 0xff, 0xff, 0xff, 0xff, 0xff};
	EXPECT_EQ(vigil::radio_mac(top, 2), (vigil::MacBytes{0, 0, 0, 0, 0, 0}));
	EXPECT_EQ(vigil::radio_mac(top, 0), (vigil::MacBytes{0, 0, 0xff, 0xff, 0xff, 0xfe}));
}

TEST(RadioMac, NoTwoRadiosOfOneApShareAMac)
{
	vigil::MacBytes base = {0x02, 0x00, 0x22, 0xa3, 0xc4, 0xc5};
	std::vector<vigil::MacBytes> macs;
	for (unsigned int radio = 0; radio < 4; radio++)
		macs.push_back(vigil::radio_mac(base, radio));
	std::sort(macs.begin(), macs.end());
	EXPECT_EQ(std::adjacent_find(macs.begin(), macs.end()), macs.end());
}

blob_attr *first_field(wlc::BlobBuf &b)
{
	return static_cast<blob_attr *>(blob_data(b.head()));
}

TEST(ChannelList, IntegersOnlyAtMostThirtyTwoWithinRange)
{
	wlc::BlobBuf b;
	ASSERT_TRUE(b.add_json(R"({"ch_list": ["x", 1, 6.5, 11, {"a": 2}]})"));
	auto ch = vigil::channel_list(first_field(b));
	ASSERT_TRUE(ch);
	EXPECT_EQ(*ch, (std::vector<int>{1, 11}));
	std::string many = "{\"ch_list\": [";
	for (int i = 1; i <= 40; i++)
		many += (i > 1 ? "," : "") + std::to_string(i);
	b.reset();
	ASSERT_TRUE(b.add_json(many + "]}"));
	ch = vigil::channel_list(first_field(b));
	ASSERT_TRUE(ch);
	EXPECT_EQ(ch->size(), 32u);
	EXPECT_EQ(ch->back(), 32);
	for (const char *bad : {R"({"ch_list": []})", R"({"ch_list": ["1"]})", R"({"ch_list": [1, 0]})",
				R"({"ch_list": [256]})", R"({"ch_list": [-6]})"}) {
		b.reset();
		ASSERT_TRUE(b.add_json(bad));
		EXPECT_FALSE(vigil::channel_list(first_field(b))) << bad;
	}
	EXPECT_FALSE(vigil::channel_list(nullptr));
}

} // namespace
