// radio_acs on a simulated site: each policy picks the channel the scripted
// world makes the winner, sets it in the driver and records it once.
#include <sys/stat.h>

#include <fstream>
#include <utility>

#include "vigil_fixture.h"

namespace vigiltest {
namespace {

class Acs : public VigilTest {
protected:
	void SetUp() override
	{
		VigilTest::SetUp();
		// ap2 sits on channel 1 and is heard; a foreign BSS on 6; channel 11 is
		// noisy and busy, channel 1 the least busy.
		start_site({{"ap1", ""}, {"ap2", R"("lan_mac": "00:11:22:a3:b4:d6", "radios": [{"band": 2, "channel": 1}])"}},
			   R"({"a": "ap1", "b": "ap2", "rssi": -58})");
		ASSERT_EQ(site_->command("load 1 5 20"), "ok");
		ASSERT_EQ(site_->command("load 6 30 20"), "ok");
		ASSERT_EQ(site_->command("load 11 60 500"), "ok");
		ASSERT_EQ(site_->command("bss add ap1 far 00:0a:00:00:00:06 6 -85"), "ok");
		start_vigil();
	}
	int radio_channel(int radio)
	{
		std::string r;
		EXPECT_EQ(call("radio", "{}", &r), 0);
		std::string t = field(r, std::to_string(radio));
		return std::stoi(field(t, "channel"));
	}
	std::string record(int band) { return wlctest::read_text(dev("/etc/wlc/acs/radio" + std::to_string(band))); }
	void select(const std::string &alg, int expected)
	{
		std::string r;
		ASSERT_EQ(call("radio_acs", R"({"radio": 0, "alg": ")" + alg + R"(", "ch_list": [1, 6, 11]})", &r), 0)
			<< log_text();
		EXPECT_EQ(r, "{\"status\":\"done\",\"band\":2,\"bw\":20,\"ch_old\":6,\"ch_new\":" + std::to_string(expected) +
				     "}") << log_text();
		EXPECT_EQ(radio_channel(0), expected);
		EXPECT_EQ(record(2), std::to_string(expected));
	}
};

TEST_F(Acs, BusyTimePicksTheLeastBusyChannel)
{
	select("qbss", 1);
	EXPECT_NE(log_text().find("vigil.notice: select channel 1, which has minimum busy time (50)\n"), std::string::npos)
		<< log_text();
	EXPECT_NE(log_text().find("vigil.info: ch 11 ( 10) - busy 60.0% (group 0%), skip 0\n"), std::string::npos);
}

TEST_F(Acs, ApCountPicksTheFirstUnheardChannel)
{
	select("ap-count", 11);
	EXPECT_NE(log_text().find("vigil.notice: select channel 11, which no one used\n"), std::string::npos);
}

TEST_F(Acs, NoisePicksTheLeastDirtyQuietChannel)
{
	// 1 carries ap2 at -58 (80), 6 the far BSS at -85 (70); 11's false CCA is too high.
	select("noise", 6);
	EXPECT_NE(log_text().find("vigil.info: ch 11 ( 10 ms) - false_cca 50.0%, dirty    0, skip 0\n"), std::string::npos)
		<< log_text();
	EXPECT_NE(log_text().find("vigil.notice: select channel 6, which has minimum calculated dirtiness (70)\n"),
		  std::string::npos);
}

TEST_F(Acs, TheRecordIsWrittenOnlyWhenItChanges)
{
	select("qbss", 1);
	std::string path = dev("/etc/wlc/acs/radio2");
	struct stat before;
	ASSERT_EQ(stat(path.c_str(), &before), 0);
	std::string r;
	// The same choice again (now from channel 1): the file is left alone.
	ASSERT_EQ(call("radio_acs", R"({"radio": 0, "alg": "qbss", "ch_list": [1, 6, 11]})", &r), 0);
	EXPECT_EQ(r, "{\"status\":\"done\",\"band\":2,\"bw\":20,\"ch_old\":1,\"ch_new\":1}");
	struct stat after;
	ASSERT_EQ(stat(path.c_str(), &after), 0);
	EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
	EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
	EXPECT_EQ(record(2), "1");
}

TEST_F(Acs, SkipListAndForce)
{
	ASSERT_EQ(site_->command("sta add ap1 ra0 aa:bb:cc:dd:ee:01 -52"), "ok");
	std::string r;
	ASSERT_EQ(call("radio_acs", R"({"radio": 0, "alg": "qbss", "ch_list": [1, 6, 11]})", &r), 0);
	EXPECT_EQ(r, "{\"status\":\"skip\",\"reason\":\"clients\",\"bw\":20,\"ch_old\":6}");
	ASSERT_EQ(call("radio_acs", R"({"radio": 0, "alg": "qbss", "force": true, "ch_list": [1, 6, 11],
					 "skip_list": [1]})", &r), 0);
	EXPECT_EQ(r, "{\"status\":\"done\",\"band\":2,\"bw\":20,\"ch_old\":6,\"ch_new\":6}");
}

TEST_F(Acs, FiveGigahertzGroups)
{
	// Radio 1 runs 80 MHz on 36; the group 52-64 is quieter, 60 its quietest member.
	for (const char *l : {"load 36 50 10", "load 40 50 10", "load 44 50 10", "load 48 50 10", "load 52 10 10",
			      "load 56 20 10", "load 60 5 10", "load 64 15 10"})
		ASSERT_EQ(site_->command(l), "ok");
	std::string r;
	ASSERT_EQ(call("radio_acs", R"({"radio": 1, "alg": "qbss", "ch_list": [36, 40, 44, 48, 52, 56, 60, 64]})", &r,
		       30s), 0);
	EXPECT_EQ(r, "{\"status\":\"done\",\"band\":5,\"bw\":80,\"ch_old\":36,\"ch_new\":60}") << log_text();
	EXPECT_EQ(radio_channel(1), 60);
	EXPECT_EQ(record(5), "60");
}

TEST_F(Acs, RefusalsAndErrors)
{
	for (const char *bad : {R"({"alg": "qbss", "ch_list": [1]})", R"({"radio": 0, "ch_list": [1]})",
				R"({"radio": 0, "alg": "qbss"})", R"({"radio": 0, "alg": "Noise", "ch_list": [1]})",
				R"({"radio": 0, "alg": "qbss", "ch_list": []})", R"({"radio": 0, "alg": 7, "ch_list": [1]})",
				R"({"radio": 0, "alg": "qbss", "ch_list": [300]})"})
		EXPECT_EQ(call("radio_acs", bad), UBUS_STATUS_INVALID_ARGUMENT) << bad;
	EXPECT_EQ(call("radio_acs", R"({"radio": 9, "alg": "qbss", "ch_list": [1]})"), UBUS_STATUS_UNKNOWN_ERROR);
	// A scan that runs out of time: no selection on partial data.
	ASSERT_EQ(site_->command("scan ap1 stall"), "ok");
	std::string r;
	ASSERT_EQ(call("radio_acs", R"({"radio": 0, "alg": "qbss", "ch_list": [1]})", &r), 0);
	EXPECT_EQ(r, "{\"status\":\"skip\",\"reason\":\"error\",\"bw\":20,\"ch_old\":6}");
	EXPECT_EQ(radio_channel(0), 6);
	struct stat st;
	EXPECT_NE(stat(dev("/etc/wlc/acs/radio2").c_str(), &st), 0);
	// Without the channel file nothing can be selected.
	ASSERT_EQ(site_->command("scan ap1 run"), "ok");
	std::remove(dev("/etc/channels.json").c_str());
	ASSERT_EQ(call("radio_acs", R"({"radio": 0, "alg": "qbss", "ch_list": [1]})", &r), 0);
	EXPECT_EQ(r, "{\"status\":\"skip\",\"reason\":\"error\",\"bw\":20,\"ch_old\":6}");
}

using Acs40 = VigilTest;

TEST_F(Acs40, ASecondaryThatCannotBeSetStillRecordsTheMovedPrimary)
{
	start_site(R"("radios": [{"band": 2, "channel": 6, "width": 40}])");
	ASSERT_EQ(site_->command("load 1 50 20"), "ok");
	ASSERT_EQ(site_->command("load 11 5 20"), "ok");
	start_vigil();
	std::string r;
	// 11 is the quietest; at 40 MHz its secondary lies below (7).
	ASSERT_EQ(call("radio_acs", R"({"radio": 0, "alg": "qbss", "ch_list": [1, 6, 11]})", &r), 0);
	EXPECT_EQ(r, "{\"status\":\"done\",\"band\":2,\"bw\":40,\"ch_old\":6,\"ch_new\":11}") << log_text();
	EXPECT_EQ(wlctest::read_text(dev("/etc/wlc/acs/radio2")), "11");
	// Now the driver refuses the secondary after moving the primary to 6.
	ASSERT_EQ(site_->command("load 11 70 20"), "ok");
	ASSERT_EQ(site_->command("extcha ap1 fail"), "ok");
	ASSERT_EQ(call("radio_acs", R"({"radio": 0, "alg": "qbss", "ch_list": [1, 6, 11]})", &r), 0);
	EXPECT_EQ(r, "{\"status\":\"skip\",\"reason\":\"error\",\"bw\":40,\"ch_old\":11}");
	// The record follows the channel the radio is on.
	std::string radio;
	ASSERT_EQ(call("radio", "{}", &radio), 0);
	EXPECT_EQ(field(field(radio, "0"), "channel"), "6");
	EXPECT_EQ(wlctest::read_text(dev("/etc/wlc/acs/radio2")), "6");
}

// Boards number their bands 1 and 2, or 2 and 5 (GHz). Either way the 2.4 GHz
// radio is judged by overlapping neighbours, the 5 GHz one by its bonded groups.
class AcsBand : public VigilTest, public ::testing::WithParamInterface<std::pair<int, int>> {};

TEST_P(AcsBand, BothNumberingsAreUnderstood)
{
	auto [low, high] = GetParam();
	start_site(R"("radios": [{"band": )" + std::to_string(low) + R"(, "ifprefix": "ra", "channel": 6, "width": 40},
				 {"band": )" + std::to_string(high) + R"(, "ifprefix": "rai", "channel": 36, "width": 80}])");
	// 2.4 GHz: 11 is the quietest, its secondary only fits below. 5 GHz: 52 is
	// the quietest channel, but its group holds the busiest (56), so the
	// group of 36 wins and 40 is its quietest member.
	for (const char *l : {"load 1 50 20", "load 11 5 20", "load 36 50 10", "load 40 40 10", "load 44 50 10",
			      "load 48 50 10", "load 52 5 10", "load 56 90 10", "load 60 20 10", "load 64 20 10"})
		ASSERT_EQ(site_->command(l), "ok");
	start_vigil();
	std::string r;
	ASSERT_EQ(call("radio_acs", R"({"radio": 0, "alg": "qbss", "ch_list": [1, 6, 11]})", &r), 0);
	EXPECT_EQ(r, "{\"status\":\"done\",\"band\":" + std::to_string(low) + ",\"bw\":40,\"ch_old\":6,\"ch_new\":11}")
		<< log_text();
	ASSERT_EQ(call("radio_acs", R"({"radio": 1, "alg": "qbss", "ch_list": [36, 40, 44, 48, 52, 56, 60, 64]})", &r,
		       30s), 0);
	EXPECT_EQ(r, "{\"status\":\"done\",\"band\":" + std::to_string(high) + ",\"bw\":80,\"ch_old\":36,\"ch_new\":40}")
		<< log_text();
	EXPECT_EQ(site_->command("radio ap1 1").rfind("ok channel 40 ", 0), 0u);
}

INSTANTIATE_TEST_SUITE_P(Numberings, AcsBand, ::testing::Values(std::pair{1, 2}, std::pair{2, 5}));

TEST_F(Acs, ARunningScanRefusesTheSelection)
{
	wlc::BlobBuf args;
	ASSERT_TRUE(args.add_json(R"({"radio": 0, "ch_list": [1, 6, 11], "interval": 200})"));
	wlc::AsyncCall scan;
	bool done = false;
	client_.call_async(client_.lookup("vigil"), "radio_scan", args, scan, [](blob_attr *) {},
			   [&](int) { done = true; });
	std::string r;
	ASSERT_EQ(call("radio_acs", R"({"radio": 0, "alg": "qbss", "ch_list": [1]})", &r), 0);
	EXPECT_EQ(r, "{\"status\":\"skip\",\"reason\":\"running\",\"bw\":20,\"ch_old\":6}");
	EXPECT_TRUE(wlctest::pump([&] { return done; }, 20s));
}

} // namespace
} // namespace vigiltest
