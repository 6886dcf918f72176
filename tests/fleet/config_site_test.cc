// Configuration end to end: fleetd sends each adopted AP its merged
// configuration as CONFIG through the controller's mast, the AP's own mast
// applies it (its platform command gets the file), the AP's reconfig answer
// records the version it holds, and an AP that was offline at the change
// gets it once it is back.
#include <gtest/gtest.h>

#include "site_fixture.h"

namespace fleettest {
namespace {

using masttest::pump;

class FleetConfigSite : public FleetSiteTest {
protected:
	// The version fleetd recorded as held by the AP, and the one it should hold.
	std::pair<std::string, std::string> versions(const std::string &name)
	{
		std::string reply = fleet("config_show", R"({"ap":")" + id(name) + R"("})");
		auto number = [&](const std::string &field) {
			size_t at = reply.find("\"" + field + "\":");
			if (at == std::string::npos)
				return std::string("?");
			at += field.size() + 3;
			return reply.substr(at, reply.find_first_of(",}", at) - at);
		};
		return {number("applied_version"), number("effective_version")};
	}
	bool holds(const std::string &name, const std::string &version)
	{
		auto v = versions(name);
		return v.first == version && v.second == version;
	}
};

TEST_F(FleetConfigSite, ChangeReachesEveryAdoptedApWithItsVersion)
{
	start_ap("ap1");
	start_ap("ap2");
	ASSERT_NO_FATAL_FAILURE(wait_adopted("ap1"));
	ASSERT_NO_FATAL_FAILURE(wait_adopted("ap2"));
	EXPECT_NE(fleet("group_set", R"({"id":")" + id("ap2") + R"(","group":"lobby"})").find(R"("version":1)"),
		  std::string::npos);
	EXPECT_NE(fleet("config_set", R"({"site":"hq","config":{"ssid":"hq","channel":6}})").find(R"("version":2)"),
		  std::string::npos);
	EXPECT_NE(fleet("config_set", R"({"group":"lobby","config":{"channel":11}})").find(R"("version":3)"),
		  std::string::npos);

	// Applied by each AP's platform command, 10 s after its last CONFIG.
	ASSERT_TRUE(pump([&] { return ap_file("ap1", "/applied.config") == R"({"ssid":"hq","channel":6})"; }, 60s))
		<< ap_log("ap1") << fleetd_log();
	ASSERT_TRUE(pump([&] { return ap_file("ap2", "/applied.config") == R"({"ssid":"hq","channel":11})"; }, 60s))
		<< ap_log("ap2") << fleetd_log();
	ASSERT_TRUE(pump([&] { return holds("ap1", "2") && holds("ap2", "3"); }, 30s)) << fleetd_log();
	EXPECT_EQ(fleetd_logged("fleetd.notice: AP " + id("ap1") + " holds configuration version 2"), 1u) << fleetd_log();
	EXPECT_NE(fleet("history", R"({"id":")" + id("ap2") + R"("})").find(R"("kind":"config","detail":"version 3 confirmed")"),
		  std::string::npos);
	// Without draft, the apply command starts with -f.
	EXPECT_NE(ap_file("ap1", "/stubs.log").find("ap_config_device -f " + ap_root("ap1") + "/tmp/ap_apply.config"), std::string::npos)
		<< ap_file("ap1", "/stubs.log");

	// A draft change for one AP reaches only that AP, applied in draft mode.
	// The stand-in logs its command after writing the configuration: ap2's
	// log is whole once its apply is in it.
	ASSERT_TRUE(pump([&] { return ap_file("ap2", "/stubs.log").find("ap_config_device -f") != std::string::npos; }, 30s))
		<< ap_file("ap2", "/stubs.log");
	std::string before = ap_file("ap2", "/stubs.log");
	ASSERT_NE(fleet("config_set", R"({"ap":")" + id("ap1") + R"(","config":{"led":false},"draft":true})").find("version"),
		  std::string::npos);
	ASSERT_TRUE(pump([&] { return ap_file("ap1", "/stubs.log").find("ap_config_device -d -f") != std::string::npos; }, 60s))
		<< ap_log("ap1");
	EXPECT_EQ(ap_file("ap1", "/applied.config"), R"({"ssid":"hq","channel":6,"led":false})");
	ASSERT_TRUE(pump([&] { return holds("ap1", "4"); }, 30s)) << fleetd_log();
	EXPECT_EQ(ap_file("ap2", "/stubs.log"), before);
	EXPECT_EQ(fleetd_logged("Send CONFIG version 4 to " + id("ap2")), 0u);
}

TEST_F(FleetConfigSite, ApOfflineAtTheChangeGetsItWhenItIsBack)
{
	start_ap("ap1");
	ASSERT_NO_FATAL_FAILURE(wait_adopted("ap1"));
	stop_ap("ap1");
	ASSERT_TRUE(pump([&] { return state_of("ap1") == "offline"; }, wlctest::kStartLimit)) << fleetd_log();
	ASSERT_NE(fleet("config_set", R"({"site":"hq","config":{"ssid":"while-away"}})").find(R"("version":1)"),
		  std::string::npos);

	start_ap("ap1");
	ASSERT_NO_FATAL_FAILURE(wait_adopted("ap1", 2));
	ASSERT_TRUE(pump([&] { return ap_file("ap1", "/applied.config") == R"({"ssid":"while-away"})"; }, 60s))
		<< ap_log("ap1") << fleetd_log();
	ASSERT_TRUE(pump([&] { return holds("ap1", "1"); }, 30s)) << fleetd_log();
	// Nothing was sent while it was away: the first CONFIG follows its return.
	std::string log = fleetd_log();
	size_t back = log.rfind("AP " + id("ap1") + " is adopted");
	size_t sent = log.find("Send CONFIG version 1 to " + id("ap1"));
	ASSERT_NE(back, std::string::npos) << log;
	ASSERT_NE(sent, std::string::npos) << log;
	EXPECT_LT(back, sent) << log;
}

} // namespace
} // namespace fleettest
