// A simulated site end to end: agents on four simulated APs scan the
// simulator's world and publish through a stand-in of the AP's bridge to the
// real broker; the controller's mast relays the reports to rrm_ctrl, whose
// commands travel back through mast and the broker to the agents, which set
// the simulated radios.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "controller_fixture.h"
#include "sim_site.h"

namespace {

using namespace std::chrono_literals;

class SiteTest : public masttest::ControllerTest {
protected:
	void SetUp() override
	{
		ControllerTest::SetUp();
		if (IsSkipped() || HasFatalFailure())
			return;
		start_mast({"-m", "site1"});
		std::vector<wlctest::SimDevice> devices;
		for (const char *name : {"ap1", "ap2", "ap3", "ap4"})
			devices.push_back({name, R"("radios": [{"band": 2, "channel": 6}])"});
		site_ = std::make_unique<wlctest::SimSite>(
			*root_, devices,
			R"({"a": "ap1", "b": "ap2", "rssi": -60}, {"a": "ap1", "b": "ap3", "rssi": -70},)"
			R"({"a": "ap2", "b": "ap3", "rssi": -80}, {"a": "ap3", "b": "ap4", "rssi": -60},)"
			R"({"a": "ap2", "b": "ap4", "rssi": -90})");
		ctrl_ = std::make_unique<wlctest::Process>(
			std::vector<std::string>{std::string(WLC_BUILD_DIR) + "/rrm/rrm_ctrl", "-p", "pol", "-s", "site1", "-b", "0",
						 "-c", "1", "-c", "6", "-c", "11", "-w", "20", "-n", "medium", "-r",
						 "graceful", "-l", "10", "-h", "20"},
			std::vector<std::string>{"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + root_->path() + "/ctrl.log"});
		ASSERT_TRUE(wlctest::pump([&] { return has_object("rrm_ctrl.site1.0"); }, 10s));
		for (const char *name : {"ap1", "ap2", "ap3", "ap4"})
			start_ap(name);
	}
	void TearDown() override
	{
		procs_.clear();
		ctrl_.reset();
		site_.reset();
		ControllerTest::TearDown();
	}

	void start_ap(const std::string &name)
	{
		std::string root = site_->root_of(name);
		std::string sock = root + "/var/run/ubus/ubus.sock";
		mkdir((root + "/var/run/ubus").c_str(), 0755);
		std::vector<std::string> env = {"WLC_ROOT=" + root, "WLC_LOG_FILE=" + root + "/rrm.log"};
		procs_.push_back(std::make_unique<wlctest::Process>(std::vector<std::string>{WLC_UBUSD, "-s", sock}));
		ASSERT_TRUE(wlctest::wait_until([&] {
			struct stat st;
			return stat(sock.c_str(), &st) == 0;
		}, 5s));
		std::string bin = WLC_BUILD_DIR;
		procs_.push_back(std::make_unique<wlctest::Process>(
			std::vector<std::string>{bin + "/sim/sim_ap_rrm_bridge", "-s", "site1", "-b", "0"}, env));
		procs_.push_back(std::make_unique<wlctest::Process>(
			std::vector<std::string>{bin + "/rrm/rrm_agent", "-p", "pol", "-s", "site1", "-b", "0", "-c", "1", "-c",
						 "6", "-c", "11", "-i", "50", "-g", "1", "-r", "1", "-l", "-w"},
			env));
	}
	std::string radio(const std::string &ap) { return site_->command("radio " + ap + " 0"); }
	std::string channels()
	{
		std::string out;
		for (const char *ap : {"ap1", "ap2", "ap3", "ap4"})
			out += radio(ap).substr(11, radio(ap).find(" power") - 11) + " ";
		return out;
	}
	std::string ctrl_log() { return wlctest::read_text(root_->path() + "/ctrl.log"); }

	std::unique_ptr<wlctest::SimSite> site_;
	std::unique_ptr<wlctest::Process> ctrl_;
	std::vector<std::unique_ptr<wlctest::Process>> procs_;
};

TEST_F(SiteTest, ConvergesToTheWorkedPlan)
{
	// A channel step every 10 s: several scan cycles between two moves.
	std::string reply;
	ASSERT_EQ(call("rrm_ctrl.site1.0", "config", R"({"channel_timer":10})", &reply), 0);
	ASSERT_TRUE(wlctest::pump([&] { return channels() == "6 11 1 6 "; }, 90s)) << channels() << ctrl_log();
	std::string log = ctrl_log();
	size_t first = log.find("send channel command to ap1-a5-b4-c5 (channel 1)");
	size_t second = log.find("send channel command to ap1-a4-b4-c5 (channel 11)");
	ASSERT_NE(first, std::string::npos) << log;
	ASSERT_NE(second, std::string::npos) << log;
	EXPECT_LT(first, second);
	// Then it stays: the next step finds nothing to correct.
	size_t settled = log.size();
	ASSERT_TRUE(wlctest::pump([&] { return ctrl_log().find("don't need to correct channels now", settled) != std::string::npos; }, 30s));
	EXPECT_EQ(channels(), "6 11 1 6 ");
	EXPECT_EQ(site_->command("setting ap3 0 channel"), "ok 1");
	std::string model;
	ASSERT_EQ(call("rrm_ctrl.site1.0", "model", "{}", &model), 0);
	EXPECT_NE(model.find(R"("cost":0)"), std::string::npos) << model;

	// Power: the AP heard loudly by its neighbour is turned down until it is
	// heard moderately; the others stay within the limits.
	ASSERT_EQ(call("rrm_ctrl.site1.0", "config", R"({"power_timer":5})", &reply), 0);
	ASSERT_TRUE(wlctest::pump([&] { return radio("ap4") == "ok channel 6 power 11"; }, 90s)) << radio("ap4") << ctrl_log();
	EXPECT_EQ(site_->command("setting ap4 0 power"), "ok 11");
	for (const char *ap : {"ap1", "ap2", "ap3"})
		EXPECT_NE(radio(ap).find("power 20"), std::string::npos) << ap;
	EXPECT_EQ(channels(), "6 11 1 6 ");
}

TEST_F(SiteTest, AggressiveModeReachesEveryAgent)
{
	auto all_logged = [&](const std::string &text) {
		for (const char *ap : {"ap1", "ap2", "ap3", "ap4"})
			if (wlctest::read_text(site_->root_of(ap) + "/rrm.log").find(text) == std::string::npos)
				return false;
		return true;
	};
	// Every AP has reported, so its bridge is connected and subscribed.
	ASSERT_TRUE(wlctest::pump([&] {
		std::string list;
		call("rrm_ctrl.site1.0", "report_list", R"({"type":"radio","limit":1})", &list);
		size_t n = 0;
		for (size_t at = 0; (at = list.find("\"reports\"", at)) != std::string::npos; at++)
			n++;
		return n == 4;
	}, 20s));
	ASSERT_EQ(call("rrm_ctrl.site1.0", "agressive", R"({"enable":true,"timeout":600})"), 0);
	ASSERT_TRUE(wlctest::pump([&] { return all_logged("[site1/0] switch to agressive mode"); }, 20s));
	// Active scans with the short pause between lists.
	ASSERT_TRUE(wlctest::pump([&] { return all_logged("sleep for 2 seconds before next list scan..."); }, 20s));
	ASSERT_EQ(call("rrm_ctrl.site1.0", "agressive", R"({"enable":false})"), 0);
	ASSERT_TRUE(wlctest::pump([&] { return all_logged("[site1/0] switch to main mode"); }, 20s));
	EXPECT_NE(ctrl_log().find("send command to disable agressive mode to all agents"), std::string::npos);
}

} // namespace
