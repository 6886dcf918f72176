// radio_scan on a simulated site: the surveys and BSSs must be the world's.
#include <cctype>
#include <chrono>
#include <csignal>
#include <sstream>
#include <unistd.h>

#include "vigil_fixture.h"

namespace vigiltest {
namespace {

class Scan : public VigilTest {
protected:
	void SetUp() override
	{
		VigilTest::SetUp();
		start_site({{"ap1", ""}, {"ap2", R"("lan_mac": "00:11:22:a3:b4:d6", "radios": [{"band": 2, "channel": 6, "ssids": ["wlc", "guest"]}])"}},
			   R"({"a": "ap1", "b": "ap2", "rssi": -58})");
		ASSERT_EQ(site_->command("load 6 40 200"), "ok");
		ASSERT_EQ(site_->command("load 1 30 70"), "ok");
		ASSERT_EQ(site_->command("bss add ap1 neighbour 00:0a:00:00:00:01 11 -70"), "ok");
		start_vigil();
	}
	// The survey table the world gives a channel with this load (scans of 10 samples).
	static std::string survey(int channel, int busy, int false_cca, int non_wifi = 2)
	{
		int b = busy * 10;
		return "{\"type\":1,\"channel\":" + std::to_string(channel) + ",\"interval\":10,\"busy_time\":" +
		       std::to_string(b) + ",\"rx_time\":" + std::to_string(b / 2) + ",\"tx_time\":" + std::to_string(b / 4) +
		       ",\"obss_time\":" + std::to_string(b / 8) + ",\"non_wifi_time\":" + std::to_string(non_wifi * 10) +
		       ",\"false_cca\":" + std::to_string(false_cca) + "}";
	}
};

TEST_F(Scan, SurveysAndBssListAreTheWorlds)
{
	std::string r;
	ASSERT_EQ(call("radio_scan", R"({"radio": 0, "ch_list": [1, 6, 11], "interval": 20})", &r), 0) << log_text();
	// The world's BSS load on channel 6 (40 % as 40 * 255 / 100 of 255) and admission
	// capacity 1000 (units of 32 us), as the driver's event reports them.
	std::string util = std::to_string(40 * 255 / 100 * 100 / 256), cap = std::to_string(1000 * 32);
	std::string bss6 = ",\"bw\":20,\"rssi\":-58,\"ssid\":\"%s\",\"bssid\":\"%s\",\"beacon_period\":100,\"dtim_count\":0,"
			   "\"dtim_period\":2,\"qbss\":{\"sta_num\":0,\"ch_util\":" + util + ",\"avail_admission_cap\":" + cap + "}}";
	auto bss_on_6 = [&](const std::string &ssid, const std::string &bssid) {
		std::string t = "{\"channel\":6" + bss6;
		t.replace(t.find("%s"), 2, ssid);
		t.replace(t.find("%s"), 2, bssid);
		return t;
	};
	EXPECT_EQ(r, "{\"ch_list\":[" + survey(1, 30, 70) + "," + survey(6, 40, 200) + "," + survey(11, 20, 50) +
			     "],\"bss_list\":[" + bss_on_6("wlc", "02:11:22:a3:c4:d6") + "," +
			     bss_on_6("guest", "02:11:22:a3:c4:d7") +
			     ",{\"channel\":11,\"bw\":20,\"rssi\":-70,\"ssid\":\"neighbour\",\"bssid\":\"00:0a:00:00:00:01\","
			     "\"beacon_period\":100,\"dtim_count\":0,\"dtim_period\":2}],\"status\":\"done\"}");
}

TEST_F(Scan, ASecondScanOfTheSameRadioIsToldItRuns)
{
	wlc::BlobBuf args;
	ASSERT_TRUE(args.add_json(R"({"radio": 0, "ch_list": [1, 6, 11], "interval": 200})"));
	wlc::AsyncCall first;
	std::string first_reply;
	bool first_done = false;
	client_.call_async(client_.lookup("vigil"), "radio_scan", args, first,
			   [&](blob_attr *msg) { first_reply = wlc::BlobBuf().add_fields(msg).json(); },
			   [&](int) { first_done = true; });
	std::string r;
	// The first call is on the loop before the second: the bus keeps their order.
	ASSERT_EQ(call("radio_scan", R"({"radio": 0, "ch_list": [6]})", &r), 0);
	EXPECT_EQ(r, "{\"status\":\"running\"}");
	// Another radio may scan meanwhile.
	ASSERT_EQ(call("radio_scan", R"({"radio": 1, "ch_list": [36], "interval": 10})", &r), 0);
	EXPECT_NE(r.find("\"status\":\"done\""), std::string::npos);
	ASSERT_TRUE(wlctest::pump([&] { return first_done; }, 20s));
	EXPECT_NE(first_reply.find("\"status\":\"done\""), std::string::npos);
	EXPECT_NE(first_reply.find(survey(11, 20, 50)), std::string::npos) << first_reply;
}

TEST_F(Scan, ConcurrentScansKeepToTheirOwnInterface)
{
	// Both radios scan the same channels at once; every survey and BSS
	// belongs to exactly one of them.
	wlc::BlobBuf args;
	ASSERT_TRUE(args.add_json(R"({"radio": 1, "ch_list": [6, 11], "interval": 30})"));
	wlc::AsyncCall other;
	std::string other_reply;
	bool other_done = false;
	client_.call_async(client_.lookup("vigil"), "radio_scan", args, other,
			   [&](blob_attr *msg) { other_reply = wlc::BlobBuf().add_fields(msg).json(); },
			   [&](int) { other_done = true; });
	std::string r;
	ASSERT_EQ(call("radio_scan", R"({"radio": 0, "ch_list": [6, 11], "interval": 45})", &r), 0);
	ASSERT_TRUE(wlctest::pump([&] { return other_done; }, 20s));
	for (const std::string &reply : {r, other_reply}) {
		EXPECT_EQ(field(reply, "ch_list"), "[" + survey(6, 40, 200) + "," + survey(11, 20, 50) + "]") << reply;
		std::string list = field(reply, "bss_list");
		// Three BSSs: two of ap2 on 6, the neighbour on 11, each once.
		size_t n = 0;
		for (size_t p = list.find("\"bssid\""); p != std::string::npos; p = list.find("\"bssid\"", p + 1))
			n++;
		EXPECT_EQ(n, 3u) << list;
	}
}

TEST_F(Scan, AStalledRadioAnswersDoneAtTheTimeLimit)
{
	ASSERT_EQ(site_->command("scan ap1 stall"), "ok");
	auto t0 = std::chrono::steady_clock::now();
	std::string r;
	ASSERT_EQ(call("radio_scan", R"({"radio": 0, "ch_list": [1, 6]})", &r, 30s), 0);
	auto took = std::chrono::steady_clock::now() - t0;
	EXPECT_EQ(r, "{\"ch_list\":[],\"bss_list\":[],\"status\":\"done\"}");
	EXPECT_GE(took, 9s);
	// The radio is free again afterwards.
	ASSERT_EQ(site_->command("scan ap1 run"), "ok");
	ASSERT_EQ(call("radio_scan", R"({"radio": 0, "ch_list": [6], "interval": 10})", &r), 0);
	EXPECT_EQ(field(r, "ch_list"), "[" + survey(6, 40, 200) + "]");
}

// CPU seconds a process has used.
double cpu_seconds(pid_t pid)
{
	std::string text = wlctest::read_text("/proc/" + std::to_string(pid) + "/stat");
	std::istringstream in(text.substr(text.rfind(')') + 2));
	std::string f;
	double ticks = 0;
	for (int i = 0; i < 13 && in >> f; i++)
		if (i >= 11)
			ticks += std::stod(f);
	return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
}

TEST_F(Scan, ADriverThatGoesAwayEndsTheScanAtItsLimit)
{
	ASSERT_EQ(site_->command("scan ap1 stall"), "ok");
	wlc::BlobBuf args;
	ASSERT_TRUE(args.add_json(R"({"radio": 0, "ch_list": [1, 6]})"));
	wlc::AsyncCall c;
	std::string reply;
	bool done = false;
	client_.call_async(client_.lookup("vigil"), "radio_scan", args, c,
			   [&](blob_attr *msg) { reply = wlc::BlobBuf().add_fields(msg).json(); },
			   [&](int) { done = true; });
	// The call is on its way once "health" behind it is answered.
	ASSERT_EQ(call("health"), 0);
	double before = cpu_seconds(vigil_->pid());
	site_->process().kill(SIGKILL);
	ASSERT_TRUE(wlctest::pump([&] { return done; }, 30s));
	EXPECT_EQ(reply, "{\"ch_list\":[],\"bss_list\":[],\"status\":\"done\"}");
	EXPECT_LT(cpu_seconds(vigil_->pid()) - before, 2.0);
}

TEST_F(Scan, BadArgumentsAreRefused)
{
	std::string big(4096, 'x');
	for (const std::string &args :
	     {std::string("{}"), std::string(R"({"ch_list": [1]})"), std::string(R"({"radio": 0})"),
	      std::string(R"({"radio": "0", "ch_list": [1]})"), std::string(R"({"radio": 0, "ch_list": []})"),
	      std::string(R"({"radio": 0, "ch_list": 6})"), std::string(R"({"radio": 0, "ch_list": ["6", {}]})"),
	      std::string(R"({"radio": 0, "ch_list": [0]})"), std::string(R"({"radio": 0, "ch_list": [6, 256]})"),
	      std::string(R"({"radio": 0, "ch_list": [-1]})"), std::string(R"({"radio": 0, "ch_list": [6], "type": 2})"),
	      std::string(R"({"radio": 0, "ch_list": [")") + big + "\"]}"}) {
		EXPECT_EQ(call("radio_scan", args), UBUS_STATUS_INVALID_ARGUMENT) << args.substr(0, 80);
	}
	// A radio without interfaces cannot scan.
	EXPECT_EQ(call("radio_scan", R"({"radio": 7, "ch_list": [6]})"), UBUS_STATUS_UNKNOWN_ERROR);
	// The service is still there and answers.
	EXPECT_EQ(call("health"), 0);
}

TEST_F(Scan, AtMostThirtyTwoChannelsAreScanned)
{
	std::string list;
	for (int i = 1; i <= 33; i++)
		list += (i > 1 ? "," : "") + std::to_string(i);
	ASSERT_EQ(site_->command("scans ap1"), "ok");
	std::string r;
	// Type 257 has low bits 1: an active scan; the interval is clamped to the driver's range.
	ASSERT_EQ(call("radio_scan", R"({"radio": 256, "type": 257, "interval": 100000, "ch_list": [)" + list + "]}", &r,
		       30s), 0) << log_text();
	std::string surveys = field(r, "ch_list");
	EXPECT_NE(surveys.find("\"channel\":32,"), std::string::npos) << surveys;
	EXPECT_EQ(surveys.find("\"channel\":33,"), std::string::npos) << surveys;
	// The driver was asked for channels 1 to 32 on one interface of radio 0
	// (ra<n>), each an active scan of 255 ms.
	std::string taken = site_->command("scans ap1");
	std::string ifname = taken.substr(3, taken.find(':') - 3);
	ASSERT_TRUE(ifname.size() > 2 && ifname.rfind("ra", 0) == 0 && std::isdigit(ifname[2])) << taken;
	std::string asked = "ok";
	for (int i = 1; i <= 32; i++)
		asked += " " + ifname + ":" + std::to_string(i) + ":active:255";
	EXPECT_EQ(taken, asked);
	// The default type is passive; an interval below 1 ms dwells 1 ms.
	ASSERT_EQ(call("radio_scan", R"({"radio": 0, "interval": -5, "ch_list": [6]})", &r), 0);
	EXPECT_EQ(site_->command("scans ap1"), "ok " + ifname + ":6:passive:1");
	ASSERT_EQ(call("radio_scan", R"({"radio": 0, "ch_list": [11]})", &r), 0);
	EXPECT_EQ(site_->command("scans ap1"), "ok " + ifname + ":11:passive:200");
}

} // namespace
} // namespace vigiltest
