// rrm_agent against the device simulator's radio world: the scan cycle and
// its reports, commands applied to the simulated radios, the settings files,
// and the aggressive mode.
#include <gtest/gtest.h>

#include <fsroot/fsroot.h>
#include <zev/devinfo.h>

#include <cstring>

#include <sys/stat.h>

#include "agent/agent.h"
#include "common/codec.h"
#include "fail_allocation.h"
#include "rrm_fixture.h"
#include "sim_site.h"

namespace {

using namespace std::chrono_literals;

// ap1 and ap2 on channel 6 of radio 0 hear each other at -60 dBm.
class AgentTest : public rrmtest::BusTest {
protected:
	void SetUp() override
	{
		BusTest::SetUp();
		site_ = std::make_unique<wlctest::SimSite>(
			*root_,
			std::vector<wlctest::SimDevice>{{"ap1", R"("radios": [{"band": 2, "channel": 6}, {"band": 5, "channel": 36}])"},
							{"ap2", R"("radios": [{"band": 2, "channel": 6}])"}},
			R"({"a": "ap1", "b": "ap2", "rssi": -60})");
		site_->use("ap1");
		id_ = zev_devinfo_id();
	}
	void TearDown() override
	{
		agent_.reset();
		agent_bus_.close();
		site_.reset();
		BusTest::TearDown();
	}
	void start(std::vector<std::string> extra = {})
	{
		std::vector<std::string> args = {"-p", "pol", "-s", "site1", "-b", "0", "-c", "1", "-c", "6", "-c", "11",
						 "-i", "50", "-g", "1", "-r", "1"};
		args.insert(args.end(), extra.begin(), extra.end());
		auto cfg = rrm::parse_agent_config(args);
		ASSERT_TRUE(cfg);
		ASSERT_TRUE(agent_bus_.connect(bus_->socket()));
		agent_bus_.watch();
		agent_ = std::make_unique<rrm::Agent>(*cfg, agent_bus_, id_);
		ASSERT_EQ(agent_->start(), 0);
	}
	bool logged(const std::string &text, std::chrono::milliseconds limit = 10s)
	{
		return wlctest::pump([&] { return log_text().find(text) != std::string::npos; }, limit);
	}
	// The first report of a kind published since index from.
	const rrmtest::Published *report(const std::string &kind, size_t from = 0)
	{
		for (size_t i = from; i < published_.size(); i++)
			if (published_[i].path == "zev/wlc/rrm/site1/ap/" + id_ + "/0/report/" + kind)
				return &published_[i];
		return nullptr;
	}
	std::string ap2_bssid() const
	{
		return "02:11:22:a4:c4:c5"; // ap2's base MAC 00:11:22:a4:b4:c5, radio 0, unit 0
	}

	std::unique_ptr<wlctest::SimSite> site_;
	std::string id_;
	wlc::Bus agent_bus_;
	std::unique_ptr<rrm::Agent> agent_;
};

TEST_F(AgentTest, ListScanReportsWhatTheWorldHears)
{
	add_bridge();
	start();
	ASSERT_TRUE(wlctest::pump([&] { return report("radio") != nullptr; }, 15s)) << log_text();
	ASSERT_EQ(published_.size(), 3u);
	EXPECT_EQ(published_[0].path, "zev/wlc/rrm/site1/ap/" + id_ + "/0/report/channels");
	EXPECT_EQ(published_[1].path, "zev/wlc/rrm/site1/ap/" + id_ + "/0/report/bss");
	const std::string &channels = published_[0].message;
	for (const char *ch : {R"("ch":1,)", R"("ch":6,)", R"("ch":11,)"})
		EXPECT_NE(channels.find(ch), std::string::npos) << channels;
	EXPECT_EQ(published_[1].message, R"({"scan":[{"ch":6,"ssid":"wlc","bssid":")" + ap2_bssid() +
						 R"(","rssi":-60,"bw":20,"util":19}]})");
	EXPECT_EQ(published_[2].message, R"({"ch":6,"pwr":20,"bssid":["02:11:22:a3:c4:c5"]})");
	std::string log = log_text();
	EXPECT_NE(log.find("request scan channel 6 on ra0"), std::string::npos);
	EXPECT_NE(log.find("find BSS 'wlc' on channel 6"), std::string::npos);
	EXPECT_NE(log.find("sleep for 1 seconds before next channel scan..."), std::string::npos);

	// The next cycle reports the same BSS once, not twice.
	size_t first = published_.size();
	ASSERT_TRUE(wlctest::pump([&] { return report("radio", first) != nullptr; }, 15s));
	EXPECT_EQ(report("bss", first)->message, published_[1].message);
}

TEST_F(AgentTest, ReportsFollowTheRadios)
{
	add_bridge();
	ASSERT_EQ(site_->command("hear ap1 ap2 -70"), "ok");
	start();
	ASSERT_TRUE(wlctest::pump([&] { return report("radio") != nullptr; }, 15s)) << log_text();
	auto heard = published_[1].message;
	EXPECT_NE(heard.find(R"("rssi":-70)"), std::string::npos) << heard;
	// ap2 turned down by 6 dB is heard 6 dB fainter.
	ASSERT_EQ(site_->command("power ap2 0 14"), "ok");
	ASSERT_EQ(site_->command("radio ap2 0"), "ok channel 6 power 14");
	size_t first = published_.size();
	ASSERT_TRUE(wlctest::pump([&] { return report("radio", first) != nullptr; }, 15s));
	EXPECT_NE(report("bss", first)->message.find(R"("rssi":-76)"), std::string::npos) << report("bss", first)->message;
}

TEST_F(AgentTest, RadioDownPublishesNothing)
{
	add_bridge();
	ASSERT_EQ(site_->command("link ap1 ra0 down"), "ok");
	start();
	ASSERT_TRUE(logged("failed to start scanning channel list: missing radio interface"));
	ASSERT_TRUE(logged("sleep for 1 seconds before next list scan..."));
	EXPECT_TRUE(published_.empty());
}

// The BSS buffer of a list scan cannot be had: that list is skipped with its
// own line, and the next one runs.
TEST_F(AgentTest, NoMemoryForListScan)
{
	add_bridge();
	wlctest::fail_allocation_of = 2 * 3 * sizeof(zev_wifi_bss); // two entries per channel, three channels
	start();
	ASSERT_TRUE(logged("rrm_test.err: failed to start scanning channel list: not enough memory")) << log_text();
	EXPECT_EQ(wlctest::fail_allocation_of, 0u);
	size_t at = log_text().find("not enough memory");
	ASSERT_TRUE(wlctest::pump([&] { return report("radio") != nullptr; }, 15s)) << log_text();
	EXPECT_NE(log_text().find("start scanning channel list", at), std::string::npos);
	EXPECT_EQ(log_text().find("scan cycle failed"), std::string::npos);
}

TEST_F(AgentTest, NoBridgeCycleGoesOn)
{
	start();
	ASSERT_TRUE(logged("failed to send scan report: ubus obj not found", 15s));
	std::string log = log_text();
	size_t at = log.find("failed to send scan report");
	ASSERT_TRUE(logged("start scanning channel list"));
	EXPECT_TRUE(wlctest::pump([&] { return log_text().find("start scanning channel list", at) != std::string::npos; }, 10s));
}

TEST_F(AgentTest, BssListBounded)
{
	for (int i = 0; i < 300; i++) {
		char mac[18];
		std::snprintf(mac, sizeof mac, "02:99:00:00:%02x:%02x", i >> 8, i & 0xff);
		ASSERT_EQ(site_->command("bss add ap1 n" + std::to_string(i) + " " + mac + " 6 -70"), "ok");
	}
	add_bridge();
	start();
	ASSERT_TRUE(wlctest::pump([&] { return report("radio") != nullptr; }, 20s)) << log_text();
	wlc::BlobBuf b;
	ASSERT_TRUE(b.add_json(report("bss")->message));
	EXPECT_TRUE(logged("not enough memory for BSS data!"));
	size_t entries = 0;
	for (size_t at = 0; (at = report("bss")->message.find("\"bssid\"", at)) != std::string::npos; at++)
		entries++;
	EXPECT_EQ(entries, rrm::max_bss_entries);
}

TEST_F(AgentTest, ChannelCommands)
{
	start({"-l"});
	EXPECT_EQ(call_json("rrm_agent.0", "config", "{}"), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call_json("rrm_agent.0", "config", R"({"channel":11})"), 0);
	EXPECT_EQ(site_->command("radio ap1 0"), "ok channel 11 power 20");
	EXPECT_EQ(site_->command("setting ap1 0 channel"), "ok 11");
	EXPECT_EQ(rrm::read_setting(0, "channel"), 11);
	EXPECT_TRUE(logged("set channel 11"));
	// A channel outside the agent's own list is applied all the same: the
	// controller's list is the one that counts.
	EXPECT_EQ(call_json("rrm_agent.0", "config", R"({"channel":13})"), 0);
	EXPECT_EQ(site_->command("radio ap1 0"), "ok channel 13 power 20");
	EXPECT_EQ(rrm::read_setting(0, "channel"), 13);
	// What cannot be a channel is refused and changes nothing.
	for (const char *bad : {R"({"channel":0})", R"({"channel":-6})", R"({"channel":256})"}) {
		EXPECT_EQ(call_json("rrm_agent.0", "config", bad), UBUS_STATUS_INVALID_ARGUMENT) << bad;
		EXPECT_EQ(site_->command("radio ap1 0"), "ok channel 13 power 20") << bad;
		EXPECT_EQ(rrm::read_setting(0, "channel"), 13) << bad;
	}
	EXPECT_TRUE(logged("refused channel 256: not a channel"));
	// Power is not under control: skipped.
	EXPECT_EQ(call_json("rrm_agent.0", "config", R"({"power":10})"), 0);
	EXPECT_TRUE(logged("got power config, but power is not under RRM control, skip"));
	EXPECT_EQ(site_->command("radio ap1 0"), "ok channel 13 power 20");
	EXPECT_FALSE(rrm::read_setting(0, "power"));
}

TEST_F(AgentTest, PowerCommands)
{
	start({"-w"});
	EXPECT_EQ(call_json("rrm_agent.0", "config", R"({"power":14})"), 0);
	EXPECT_EQ(site_->command("radio ap1 0"), "ok channel 6 power 14");
	EXPECT_EQ(site_->command("setting ap1 0 power"), "ok 14");
	// Outside what the options allow, but a power: the driver decides.
	EXPECT_EQ(call_json("rrm_agent.0", "config", R"({"power":-45})"), 0);
	EXPECT_EQ(site_->command("radio ap1 0"), "ok channel 6 power -45");
	EXPECT_EQ(call_json("rrm_agent.0", "config", R"({"power":99})"), 0);
	EXPECT_EQ(site_->command("radio ap1 0"), "ok channel 6 power 99");
	EXPECT_EQ(site_->command("setting ap1 0 power"), "ok 99");
	// The reports' "unknown" and what does not fit a dBm byte are no power.
	for (const char *bad : {R"({"power":-127})", R"({"power":128})", R"({"power":-2000})"}) {
		EXPECT_EQ(call_json("rrm_agent.0", "config", bad), UBUS_STATUS_INVALID_ARGUMENT) << bad;
		EXPECT_EQ(site_->command("radio ap1 0"), "ok channel 6 power 99") << bad;
		EXPECT_EQ(site_->command("setting ap1 0 power"), "ok 99") << bad;
	}
	EXPECT_TRUE(logged("refused tx power -127 dBm: not a power"));
	EXPECT_EQ(call_json("rrm_agent.0", "config", R"({"power":14})"), 0);
	EXPECT_EQ(call_json("rrm_agent.0", "config", R"({"channel":1})"), 0);
	EXPECT_TRUE(logged("got channel config, but channel is not under RRM control, skip"));
	EXPECT_EQ(site_->command("radio ap1 0"), "ok channel 6 power 14");
	EXPECT_EQ(site_->command("setting ap1 0 channel"), "error: no setting");
}

// Times the list scan was dropped and the next one scheduled.
size_t cycle_ends(const std::string &log)
{
	size_t n = 0;
	for (size_t at = 0; (at = log.find("before next list scan...", at)) != std::string::npos; at++)
		n++;
	return n;
}

// The channel the radio already uses: nothing is applied or rewritten, and
// the scan is not restarted; another channel restarts it.
TEST_F(AgentTest, ChannelAlreadyInUse)
{
	start({"-l", "-r", "600"}); // the first list scan is ten minutes away
	ASSERT_TRUE(rrm::write_setting(0, "channel", 6));
	std::string file = wlc::root_path("/etc/wlc/rrm/cfg/radio0/channel");
	struct stat before;
	ASSERT_EQ(stat(file.c_str(), &before), 0);
	size_t ends = cycle_ends(log_text());
	ASSERT_EQ(ends, 1u);
	EXPECT_EQ(call_json("rrm_agent.0", "config", R"({"channel":6})"), 0);
	EXPECT_TRUE(logged("set channel 6"));
	EXPECT_EQ(site_->command("radio ap1 0"), "ok channel 6 power 20");
	struct stat after;
	ASSERT_EQ(stat(file.c_str(), &after), 0);
	EXPECT_EQ(after.st_ino, before.st_ino); // not written again
	EXPECT_EQ(cycle_ends(log_text()), ends);
	EXPECT_EQ(call_json("rrm_agent.0", "config", R"({"channel":1})"), 0);
	EXPECT_EQ(site_->command("radio ap1 0"), "ok channel 1 power 20");
	EXPECT_EQ(cycle_ends(log_text()), ends + 1);
}

// Power alone is applied without touching the list scan in progress.
TEST_F(AgentTest, PowerOnlyLeavesTheScanAlone)
{
	ASSERT_EQ(site_->command("scan ap1 stall"), "ok"); // each channel waits for its watchdog
	start({"-w", "-i", "2000"});
	ASSERT_TRUE(logged("request scan channel 1 on ra0"));
	size_t ends = cycle_ends(log_text());
	EXPECT_EQ(call_json("rrm_agent.0", "config", R"({"power":11})"), 0);
	EXPECT_EQ(site_->command("radio ap1 0"), "ok channel 6 power 11");
	EXPECT_EQ(cycle_ends(log_text()), ends);
	// The same list goes on with its next channel.
	ASSERT_TRUE(logged("request scan channel 6 on ra0"));
	std::string log = log_text();
	EXPECT_EQ(cycle_ends(log.substr(0, log.find("request scan channel 6 on ra0"))), ends);
}

// Statistics for a channel other than the one being scanned are ignored and
// do not advance the scan.
TEST_F(AgentTest, StatisticsForAnotherChannelIgnored)
{
	add_bridge();
	ASSERT_EQ(site_->command("scan ap1 stall"), "ok");
	ASSERT_EQ(site_->command("load 11 300 7"), "ok");
	start({"-i", "3000"});
	ASSERT_TRUE(logged("request scan channel 1 on ra0"));
	ASSERT_EQ(site_->command("stats ap1 ra0 11"), "ok");
	ASSERT_EQ(site_->command("stats ap1 ra0 1"), "ok"); // after the other, on the same socket
	ASSERT_TRUE(logged("recv scan result for channel 1"));
	std::string log = log_text();
	EXPECT_EQ(log.find("recv scan result for channel 11"), std::string::npos);
	EXPECT_EQ(log.find("recv scan result for channel 1"), log.rfind("recv scan result for channel"));
	// Stalled, channels 6 and 11 end by their watchdogs: only channel 1 is reported.
	ASSERT_TRUE(wlctest::pump([&] { return report("channels") != nullptr; }, 20s)) << log_text();
	const std::string &channels = report("channels")->message;
	EXPECT_NE(channels.find(R"("ch":1,)"), std::string::npos) << channels;
	EXPECT_EQ(channels.find(R"("ch":11,)"), std::string::npos) << channels;
	EXPECT_EQ(channels.find(R"("ch":6,)"), std::string::npos) << channels;
}

TEST_F(AgentTest, AggressiveMode)
{
	start();
	EXPECT_EQ(call_json("rrm_agent.0", "agressive", R"({"enable":true})"), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_FALSE(agent_->aggressive());
	EXPECT_EQ(call_json("rrm_agent.0", "agressive", R"({"enable":false})"), 0);
	EXPECT_EQ(log_text().find("switch to main mode"), std::string::npos);
	EXPECT_EQ(call_json("rrm_agent.0", "agressive", R"({"enable":true,"timeout":600})"), 0);
	EXPECT_EQ(call_json("rrm_agent.0", "agressive", R"({"enable":true,"timeout":600})"), 0);
	EXPECT_TRUE(agent_->aggressive());
	EXPECT_EQ(agent_->timings().dwell, 250);
	EXPECT_EQ(agent_->timings().gap, 2000);
	EXPECT_EQ(agent_->timings().relax, 2000);
	EXPECT_EQ(agent_->timings().scan_type, 1);
	std::string log = log_text();
	EXPECT_EQ(log.find("switch to agressive mode"), log.rfind("switch to agressive mode"));
	EXPECT_EQ(call_json("rrm_agent.0", "agressive", R"({"enable":false})"), 0);
	EXPECT_EQ(agent_->timings().relax, 1000);
	EXPECT_EQ(agent_->timings().scan_type, 0);
	EXPECT_TRUE(logged("rrm_test.notice: switch to main mode"));
	EXPECT_EQ(call_json("rrm_agent.0", "agressive", R"({"enable":true,"timeout":0})"), 0);
	EXPECT_TRUE(logged("agressive mode timed out, switch to main mode"));
	EXPECT_FALSE(agent_->aggressive());
}

TEST(AgentProgram, BadConfig)
{
	wlctest::TempRoot root;
	wlctest::Process p({std::string(WLC_BUILD_DIR) + "/rrm/rrm_agent", "-p", "x", "-s", "s", "-b", "0", "-c", "1"},
			   {"WLC_ROOT=" + root.path(), "WLC_LOG_FILE=" + root.path() + "/agent.log"});
	int status = p.wait(10s);
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 255);
	std::string log = wlctest::read_text(root.path() + "/agent.log");
	EXPECT_NE(log.find("rrm_agent.err: Missing scan interval\n"), std::string::npos);
	EXPECT_NE(log.find("rrm_agent.debug: Bad config!\n"), std::string::npos);
}

} // namespace
