// RRM on a simulated site end to end, through the APs' real adopted masts:
// the reports in the controller's store are what the world makes the agents
// hear, the model is the worked case's, the site converges one command per
// step and then stays, a restarted rrm_ctrl keeps its reports and model,
// power settles within the limits, and aggressive mode reaches every agent.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <sstream>

#include "common/codec.h"
#include "mqtt_client.h"
#include "site_fixture.h"

namespace rrmtest {
namespace {

// Who hears whom in the site, and how loudly (both ways).
const std::map<std::pair<std::string, std::string>, int> kHear = {
	{{"ap1", "ap2"}, -60}, {{"ap1", "ap3"}, -70}, {{"ap2", "ap3"}, -80}, {{"ap3", "ap4"}, -60}, {{"ap2", "ap4"}, -90}};

std::optional<int> heard(const std::string &a, const std::string &b)
{
	auto it = kHear.find({a, b});
	if (it == kHear.end())
		it = kHear.find({b, a});
	return it == kHear.end() ? std::nullopt : std::optional<int>(it->second);
}

// The addresses listed in a radio report's "bssid" array.
std::vector<std::string> bssids(const std::string &radio_report)
{
	std::vector<std::string> out;
	size_t at = radio_report.find("\"bssid\":[");
	size_t end = radio_report.find(']', at);
	for (at = radio_report.find('"', at + 9); at < end; at = radio_report.find('"', at + 19))
		out.push_back(radio_report.substr(at + 1, 17));
	return out;
}

class Site : public SiteTest {
protected:
	std::string newest(const std::string &type, const std::string &name)
	{
		std::string reply;
		call("rrm_ctrl.site1.0", "report_list", R"({"type":")" + type + R"(","id":")" + id(name) + R"(","limit":1})",
		     &reply);
		return reply;
	}
	void store_holds_what_the_world_gives();
	void converges_from_the_worked_case();
	void restart_keeps_the_model();
	void power_settles();
	void settle_as_two_pairs(const std::string &step_line, size_t &steps, size_t &commands);
	void all_back_on_6();
};

// Of the log after `from`: the channel steps that sent commands (each step
// begins with its plan's first line) and the commands sent.
std::pair<size_t, size_t> steps_and_commands(const std::string &log, size_t from, const std::string &step_line)
{
	size_t steps = 0, commands = 0;
	bool counted = true;
	std::istringstream in(log.substr(from));
	for (std::string line; std::getline(in, line);) {
		if (line.find(step_line) != std::string::npos)
			counted = false;
		if (line.find("send channel command to ") == std::string::npos)
			continue;
		commands++;
		if (!counted)
			steps++;
		counted = true;
	}
	return {steps, commands};
}

// With channel steps every 10 s, until each pair is on two channels and a
// step after the last command finds nothing to correct.
void Site::settle_as_two_pairs(const std::string &step_line, size_t &steps, size_t &commands)
{
	size_t from = ctrl_log().size();
	ASSERT_EQ(call("rrm_ctrl.site1.0", "config", R"({"channel_timer":10})"), 0);
	auto parted = [&] {
		std::string c = channels(); // e.g. "6 11 1 6 "
		std::istringstream in(c);
		std::string a, b, x, y;
		in >> a >> b >> x >> y;
		return a != b && x != y;
	};
	ASSERT_TRUE(masttest::pump(parted, 120s)) << channels() << ctrl_log();
	size_t settled = ctrl_log().size();
	ASSERT_TRUE(masttest::pump([&] {
		return ctrl_log().find("don't need to correct channels now", settled) != std::string::npos;
	}, 60s)) << ctrl_log();
	std::tie(steps, commands) = steps_and_commands(ctrl_log(), from, step_line);
	EXPECT_NE(model().find(R"("cost":0)"), std::string::npos) << model();
}

// Every AP is told through the broker and its mast to go back to channel 6,
// and has reported from there.
void Site::all_back_on_6()
{
	wlctest::MqttClient operator_client("operator", 1883, controller_auth());
	for (const std::string &ap : kAps)
		ASSERT_TRUE(operator_client.publish("zev/wlc/rrm/site1/ap/" + id(ap) + "/0/cmd/config",
						    masttest::payload(R"({"channel":6})"), 1));
	ASSERT_TRUE(masttest::pump([&] { return channels() == "6 6 6 6 "; }, 30s)) << channels();
	ASSERT_TRUE(all_report_again(kAps)) << log_text();
}

void Site::store_holds_what_the_world_gives()
{
	// Every AP's radio and scan reports are in the store.
	ASSERT_TRUE(masttest::pump([&] {
		for (const std::string &ap : kAps)
			if (newest("radio", ap).find("\"bssid\":[") == std::string::npos ||
			    newest("bss", ap).find("\"scan\":[") == std::string::npos)
				return false;
		return true;
	}, wlctest::kStartLimit)) << log_text() << ctrl_log();
	// The scans hold every BSS of the neighbours the world lets the AP hear,
	// at the level it gives, on channel 6, and nothing else; the store keeps
	// none heard more faintly than the weakest level it takes (b and d hear
	// each other at -90 dBm).
	for (const std::string &ap : kAps) {
		std::string scan = newest("bss", ap);
		for (const std::string &other : kAps) {
			for (const std::string &bssid : bssids(newest("radio", other))) {
				int level = ap == other ? 0 : heard(ap, other).value_or(0);
				std::string entry = R"({"ch":6,"ssid":"wlc","bssid":")" + bssid + R"(","rssi":)";
				if (level != 0 && level >= rrm::weakest_rssi)
					EXPECT_NE(scan.find(entry + std::to_string(level) + ","), std::string::npos)
						<< ap << " hears " << other << ": " << scan;
				else
					EXPECT_EQ(scan.find(bssid), std::string::npos) << ap << " does not hear " << other << ": " << scan;
			}
		}
	}
}

void Site::converges_from_the_worked_case()
{
	// A channel step every 10 s: several scan cycles between two moves. The
	// first step's model is the worked case's.
	ASSERT_EQ(call("rrm_ctrl.site1.0", "config", R"({"channel_timer":10})"), 0);
	std::string first_move = "send channel command to " + id("ap3") + " (channel 1)";
	ASSERT_TRUE(masttest::pump([&] { return ctrl_log().find(first_move) != std::string::npos; }, 60s)) << ctrl_log();
	std::string worked = model();
	EXPECT_NE(worked.find(R"("cost":58)"), std::string::npos) << worked;
	std::map<std::string, unsigned> expected = {{id("ap1"), 16}, {id("ap2"), 13}, {id("ap3"), 19}, {id("ap4"), 10}};
	EXPECT_EQ(penalties(worked), expected) << worked;

	ASSERT_TRUE(masttest::pump([&] { return channels() == "6 11 1 6 "; }, 90s)) << channels() << ctrl_log();
	std::string log = ctrl_log();
	size_t second = log.find("send channel command to " + id("ap2") + " (channel 11)");
	ASSERT_NE(second, std::string::npos) << log;
	EXPECT_LT(log.find(first_move), second);
	// One command per step, and then it stays: the next step finds nothing to correct.
	size_t settled = log.size();
	ASSERT_TRUE(masttest::pump([&] {
		return ctrl_log().find("don't need to correct channels now", settled) != std::string::npos;
	}, 30s));
	log = ctrl_log();
	size_t commands = 0;
	for (size_t at = log.find("send channel command"); at != std::string::npos; at = log.find("send channel command", at + 1))
		commands++;
	EXPECT_EQ(commands, 2u) << log;
	EXPECT_EQ(channels(), "6 11 1 6 ");
	EXPECT_EQ(site_->command("setting ap3 0 channel"), "ok 1");
}

void Site::restart_keeps_the_model()
{
	std::string before = model();
	EXPECT_NE(before.find(R"("cost":0)"), std::string::npos) << before;
	// rrm_ctrl restarts while no report can reach it (the controller's mast
	// is stopped too): its first step builds the same model from the reports
	// it kept.
	mast_.reset();
	int status = stop_ctrl();
	ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 255) << status << ctrl_log(); // its stop by signal
	start_ctrl();
	ASSERT_EQ(call("rrm_ctrl.site1.0", "config", R"({"channel_timer":1})"), 0);
	ASSERT_TRUE(masttest::pump([&] { return model().find("\"cost\"") != std::string::npos; }, 30s)) << ctrl_log();
	std::string after = model();
	EXPECT_EQ(after.substr(after.find("\"cost\"")), before.substr(before.find("\"cost\"")));
	start_mast({"-m", "site1"});
}

void Site::power_settles()
{
	// The AP heard loudly by its neighbour is turned down until it is heard
	// moderately; the others stay within the limits.
	ASSERT_EQ(call("rrm_ctrl.site1.0", "config", R"({"power_timer":5})"), 0);
	ASSERT_TRUE(masttest::pump([&] { return radio("ap4") == "ok channel 6 power 11"; }, 90s)) << radio("ap4") << ctrl_log();
	EXPECT_EQ(site_->command("setting ap4 0 power"), "ok 11");
	for (const char *ap : {"ap1", "ap2", "ap3"})
		EXPECT_NE(radio(ap).find("power 20"), std::string::npos) << ap;
	EXPECT_EQ(channels(), "6 11 1 6 ");
}

TEST_F(Site, ReportsModelPlanRestartAndPower)
{
	ASSERT_NO_FATAL_FAILURE(store_holds_what_the_world_gives());
	ASSERT_NO_FATAL_FAILURE(converges_from_the_worked_case());
	ASSERT_NO_FATAL_FAILURE(restart_keeps_the_model());
	ASSERT_NO_FATAL_FAILURE(power_settles());
}

// Two pairs that hear only each other (ap1 and ap2, ap3 and ap4), all on
// channel 6: the single-AP plan parts them in two steps, the site-wide plan
// in one, both down to a cost of 0.
TEST_F(Site, SiteWidePlanSettlesInFewerSteps)
{
	for (auto [a, b] : {std::pair{"ap1", "ap3"}, {"ap2", "ap3"}})
		ASSERT_EQ(site_->command(std::string("hear ") + a + " " + b + " -100"), "ok");
	ASSERT_TRUE(all_report_again(kAps)) << log_text();
	size_t single_steps = 0, single_commands = 0;
	ASSERT_NO_FATAL_FAILURE(settle_as_two_pairs("worst AP is ", single_steps, single_commands));
	EXPECT_EQ(single_steps, 2u) << ctrl_log();
	EXPECT_EQ(single_commands, 2u);

	ASSERT_NO_FATAL_FAILURE(all_back_on_6());
	stop_ctrl();
	start_ctrl({"-e"});
	size_t site_steps = 0, site_commands = 0;
	ASSERT_NO_FATAL_FAILURE(settle_as_two_pairs("site plan (", site_steps, site_commands));
	EXPECT_EQ(site_steps, 1u) << ctrl_log();
	EXPECT_EQ(site_commands, 2u);
	EXPECT_LT(site_steps, single_steps);
}

TEST_F(Site, AggressiveModeReachesEveryAgent)
{
	auto all_logged = [&](const std::string &text) {
		for (const std::string &ap : kAps)
			if (agent_log(ap).find(text) == std::string::npos)
				return false;
		return true;
	};
	ASSERT_TRUE(all_report_again(kAps)) << log_text();
	ASSERT_EQ(call("rrm_ctrl.site1.0", "agressive", R"({"enable":true,"timeout":600})"), 0);
	ASSERT_TRUE(masttest::pump([&] { return all_logged("[site1/0] switch to agressive mode"); }, 20s));
	// Active scans with the short pause between lists.
	ASSERT_TRUE(masttest::pump([&] { return all_logged("sleep for 2 seconds before next list scan..."); }, 20s));
	ASSERT_EQ(call("rrm_ctrl.site1.0", "agressive", R"({"enable":false})"), 0);
	ASSERT_TRUE(masttest::pump([&] { return all_logged("[site1/0] switch to main mode"); }, 20s));
	EXPECT_NE(ctrl_log().find("send command to disable agressive mode to all agents"), std::string::npos);
}

} // namespace
} // namespace rrmtest
