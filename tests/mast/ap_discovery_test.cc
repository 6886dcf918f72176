// The controller search of an unadopted AP: its three sources and how they
// merge, and a search that goes on whatever the mDNS service does.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "ap_fixture.h"

namespace masttest {
namespace {

class Discovery : public ApTest {
protected:
	void umdns(const std::string &table, const std::string &mode = "normal")
	{
		table_ = ap_path("/umdns.json");
		wlctest::write_text(table_, table);
		start_ap_service("sim_umdns", {"-t", table_, "-m", mode});
		ASSERT_TRUE(pump([&] { return ap_bus_.lookup("umdns") != 0; }, 10s));
	}
	bool logged_within(const std::string &line, std::chrono::milliseconds limit = 20s)
	{
		return pump([&] { return ap_logged(line); }, limit);
	}
	std::string table_;
};

TEST_F(Discovery, SourcesMergeIntoOneCandidateList)
{
	umdns(R"({"_wlc._tcp": {
		"wlc-a": {"port": 8883, "ipv4": "127.0.0.1"},
		"wlc-b": {"port": 1884, "ipv4": "127.0.0.2"},
		"wlc-c": {"port": 0, "ipv4": "127.0.0.9"},
		"wlc-d": {"port": 8883, "ipv4": "10.200.0.1"}}})");
	wlctest::write_text(ap_path("/tmp/wlc_addr_dhcp"), "127.0.0.4;127.0.0.5:1885\n127.0.0.1\n");
	start_ap({"-h", "127.0.0.1"});
	ASSERT_TRUE(logged_within("Send JOIN_REQ to 127.0.0.1:8883")) << ap_log();
	std::string log = ap_log();
	EXPECT_NE(log.find("mast.info: DISCOVER: run mDNS discovery"), std::string::npos);
	EXPECT_NE(log.find("mast.debug: DISCOVER: found new WLC 127.0.0.2:1884 via mDNS discovery"), std::string::npos);
	// The -h entry and the mDNS one with the same port are one candidate.
	EXPECT_EQ(log.find("found new WLC 127.0.0.1:8883"), std::string::npos) << log;
	EXPECT_EQ(log.find("127.0.0.9"), std::string::npos) << log;
	EXPECT_NE(log.find("mast.notice: DISCOVER: skip endpoint 10.200.0.1 - no route to host"), std::string::npos);
	EXPECT_NE(log.find("mast.info: Found 1 new wireless controllers via mDNS discovery"), std::string::npos);
	EXPECT_NE(log.find("mast.debug: DISCOVER: found new WLC 127.0.0.4:8883 via DHCP option"), std::string::npos);
	EXPECT_NE(log.find("mast.debug: DISCOVER: found new WLC 127.0.0.5:1885 via DHCP option"), std::string::npos);
	// Every token counts, known or not.
	EXPECT_NE(log.find("mast.info: DISCOVER: found 3 wireless controllers via DHCP option"), std::string::npos);
	for (const char *c : {"127.0.0.1:8883", "127.0.0.2:1884", "127.0.0.4:8883", "127.0.0.5:1885"})
		EXPECT_NE(log.find(std::string("mast.debug: DISCOVER: connecting to ") + c), std::string::npos) << c;
	EXPECT_EQ(wlctest::read_text(table_ + ".calls").substr(0, 46), "query {\"interface\":\"br-con\",\"type\":12}\nbrowse\n");
}

TEST_F(Discovery, AnMdnsAddressNeverReachesAShell)
{
	std::string marker = ap_path("/owned");
	umdns(R"({"_wlc._tcp": {"evil": {"port": 8883, "ipv4": "127.0.0.1; touch )" + marker + R"("}}})");
	wlctest::write_text(ap_path("/tmp/wlc_addr_dhcp"), "127.0.0.7\n");
	start_ap({});
	ASSERT_TRUE(logged_within("DISCOVER: connecting to 127.0.0.7:8883")) << ap_log();
	EXPECT_NE(ap_log().find("mast.notice: DISCOVER: skip endpoint 127.0.0.1; touch " + marker + " - no route to host"),
		  std::string::npos);
	struct stat st;
	EXPECT_NE(stat(marker.c_str(), &st), 0);
}

TEST_F(Discovery, WithoutUmdnsTheOtherSourcesAreStillProbed)
{
	start_ap({"-h", "127.0.0.1:8883"});
	ASSERT_TRUE(logged_within("mast.info: Send JOIN_REQ to 127.0.0.1:8883")) << ap_log();
	EXPECT_EQ(ap_log().find("run mDNS discovery"), std::string::npos);
}

TEST_F(Discovery, AFailingQueryRestartsUmdnsAndTheSearchGoesOn)
{
	umdns(R"({"_wlc._tcp": {}})", "fail-query");
	wlctest::write_text(ap_path("/tmp/wlc_addr_dhcp"), "127.0.0.1");
	start_ap({});
	ASSERT_TRUE(logged_within("mast.info: Send JOIN_REQ to 127.0.0.1:8883")) << ap_log();
	EXPECT_NE(ap_log().find("mast.debug: DISCOVER: request to umdns failed, restart it"), std::string::npos);
	EXPECT_EQ(stubs_log(), "umdns restart\n");
}

TEST_F(Discovery, ABrowseThatNeverAnswersDoesNotStopTheSearch)
{
	umdns("", "silent-browse");
	wlctest::write_text(ap_path("/tmp/wlc_addr_dhcp"), "127.0.0.1:8883");
	start_ap({});
	ASSERT_TRUE(logged_within("mast.info: Send JOIN_REQ to 127.0.0.1:8883")) << ap_log();
	EXPECT_NE(ap_log().find("mast.debug: DISCOVER: browse mDNS discovery results"), std::string::npos);
	EXPECT_EQ(ap_log().find("parse mDNS"), std::string::npos);
}

TEST_F(Discovery, NoCandidatesMeansNoProbeAndARetry)
{
	start_ap({});
	ASSERT_TRUE(logged_within("mast.notice: DISCOVER: retry")) << ap_log();
	EXPECT_NE(ap_log().find("mast.info: DISCOVER: not found DHCP option"), std::string::npos);
	EXPECT_EQ(ap_log().find("connecting to"), std::string::npos);
	EXPECT_EQ(ap_status(), "discover");
}

TEST_F(Discovery, LongDhcpLinesAndBadPorts)
{
	// A token that straddles the 255th character is read whole.
	std::string line(250, ' ');
	line += "127.0.0.33:1886;127.0.0.34:70000,127.0.0.35:12x;:1887";
	wlctest::write_text(ap_path("/tmp/wlc_addr_dhcp"), line + "\n");
	start_ap({});
	ASSERT_TRUE(logged_within("mast.debug: DISCOVER: connecting to 127.0.0.33:1886")) << ap_log();
	std::string log = ap_log();
	EXPECT_NE(log.find("mast.warning: DISCOVER: bad WLC address '127.0.0.34:70000' in DHCP option"), std::string::npos);
	EXPECT_NE(log.find("mast.warning: DISCOVER: bad WLC address '127.0.0.35:12x' in DHCP option"), std::string::npos);
	EXPECT_NE(log.find("mast.warning: DISCOVER: bad WLC address ':1887' in DHCP option"), std::string::npos);
	EXPECT_NE(log.find("mast.info: DISCOVER: found 4 wireless controllers via DHCP option"), std::string::npos);
	EXPECT_EQ(log.find("connecting to 127.0.0.3:"), std::string::npos) << log;
	EXPECT_EQ(log.find("connecting to 127.0.0.34"), std::string::npos) << log;
}

} // namespace
} // namespace masttest
