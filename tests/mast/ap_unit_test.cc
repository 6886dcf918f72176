// The AP side's parts on their own: candidate addresses and state files.
#include <gtest/gtest.h>

#include <fsroot/fsroot.h>

#include <cstdlib>
#include <filesystem>

#include <wlc/log.h>

#include "ap/agent.h"
#include "ap/candidates.h"
#include "ap/telemetry_relay.h"
#include "core/state_file.h"
#include "core/status.h"
#include "harness.h"

namespace {

TEST(Candidates, HostAndPortTokens)
{
	auto a = mast::parse_host_port("10.0.0.1:1884");
	ASSERT_TRUE(a);
	EXPECT_EQ(a->host, "10.0.0.1");
	EXPECT_EQ(a->port, 1884);
	EXPECT_EQ(mast::parse_host_port("wlc.local")->port, 0);
	for (const char *bad : {"", ":1884", "h:", "h:-1", "h:65536", "h:12a", "h:1:2", "h:99999999999"})
		EXPECT_FALSE(mast::parse_host_port(bad)) << bad;
	EXPECT_EQ(mast::parse_host_port("h:65535")->port, 65535);
}

TEST(Candidates, TokensAreSplitAtSpacesCommasAndSemicolons)
{
	EXPECT_EQ(mast::split_address_tokens(" a;b:2,,c \td\r"), (std::vector<std::string>{"a", "b:2", "c", "d"}));
	EXPECT_TRUE(mast::split_address_tokens(" ;, ").empty());
}

TEST(Candidates, OnlyDottedQuadsAreAddresses)
{
	EXPECT_TRUE(mast::is_ipv4_address("192.168.1.1"));
	for (const char *bad : {"", "1.2.3", "1.2.3.4;reboot", "$(reboot)", "1.2.3.4 5", "::1", "256.1.1.1"})
		EXPECT_FALSE(mast::is_ipv4_address(bad)) << bad;
}

TEST(Candidates, SameHostAndPortIsOneCandidateNewestFirst)
{
	mast::CandidateList list;
	auto [a, new_a] = list.add("10.0.0.1", 0);
	ASSERT_TRUE(a);
	EXPECT_TRUE(new_a);
	EXPECT_EQ(a->port, 8883);
	EXPECT_FALSE(list.add("10.0.0.1", 8883).second);
	EXPECT_TRUE(list.add("10.0.0.1", 1884).second);
	EXPECT_EQ(list.add("h", 70000).first, nullptr);
	// Hosts are cut to 63 characters; the cut host is what compares.
	std::string longer(80, 'x');
	EXPECT_TRUE(list.add(longer, 1).second);
	EXPECT_FALSE(list.add(longer + "y", 1).second);
	auto addrs = list.addresses();
	ASSERT_EQ(addrs.size(), 3u);
	EXPECT_EQ(addrs[0].host, std::string(63, 'x'));
	EXPECT_EQ(addrs[2].host, "10.0.0.1");
}

// Every outage that ends at a known controller puts it at the front of the
// list again; the list never grows, whatever the number of outages.
TEST(Candidates, AKnownBrokerIsMovedToTheFrontNotAddedAgain)
{
	std::vector<mast::BrokerAddress> brokers = {{"a", 0}, {"b", 1884}, {"c", 0}};
	auto hosts = [&] {
		std::string out;
		for (const auto &b : brokers)
			out += b.host + ":" + std::to_string(b.port) + " ";
		return out;
	};
	for (int outage = 0; outage < 5; outage++) {
		mast::remember_broker(brokers, {"c", 8883}); // found at the default port
		EXPECT_EQ(hosts(), "c:8883 a:0 b:1884 ") << outage;
	}
	for (int outage = 0; outage < 5; outage++) {
		mast::remember_broker(brokers, {"b", 1884});
		EXPECT_EQ(hosts(), "b:1884 c:8883 a:0 ") << outage;
	}
	// Another port of a known host is another controller.
	mast::remember_broker(brokers, {"a", 1885});
	EXPECT_EQ(hosts(), "a:1885 b:1884 c:8883 a:0 ");
	mast::remember_broker(brokers, {"new", 8883});
	mast::remember_broker(brokers, {"new", 8883});
	EXPECT_EQ(hosts(), "new:8883 a:1885 b:1884 c:8883 a:0 ");
}

// A telemetry call waits as long as the request asks, at least 1 ms: a
// method may honestly take minutes (an upload, a channel selection).
TEST(TelemetryRelay, CallTimeLimitIsTheRequested)
{
	using mast::TelemetryRelay;
	EXPECT_EQ(TelemetryRelay::call_timeout_ms(std::nullopt), 1000);
	EXPECT_EQ(TelemetryRelay::call_timeout_ms(1), 1);
	EXPECT_EQ(TelemetryRelay::call_timeout_ms(40000), 40000);
	EXPECT_EQ(TelemetryRelay::call_timeout_ms(600000), 600000);
	EXPECT_EQ(TelemetryRelay::call_timeout_ms(0x7fffffffu), 0x7fffffff);
	// the field is signed: these are negative limits
	EXPECT_EQ(TelemetryRelay::call_timeout_ms(0), 1);
	EXPECT_EQ(TelemetryRelay::call_timeout_ms(static_cast<uint32_t>(-5)), 1);
	EXPECT_EQ(TelemetryRelay::call_timeout_ms(0x80000000u), 1);
	EXPECT_EQ(TelemetryRelay::call_timeout_ms(0xffffffffu), 1);
}

using StateFile = wlctest::InRootTest;

TEST_F(StateFile, ReplacedWholeAndTheDirectoryMade)
{
	ASSERT_TRUE(mast::replace_file("/etc/wlc/wlc_addr", "10.0.0.1:8883"));
	EXPECT_EQ(wlctest::read_text(root_.path() + "/etc/wlc/wlc_addr"), "10.0.0.1:8883");
	ASSERT_TRUE(mast::replace_file("/etc/wlc/wlc_addr", "h"));
	EXPECT_EQ(wlctest::read_text(root_.path() + "/etc/wlc/wlc_addr"), "h");
}

TEST_F(StateFile, AFailedWriteKeepsTheOldFile)
{
	ASSERT_TRUE(mast::replace_file("/etc/wlc/mqtt_ca.crt", "old"));
	// The temporary file cannot be made: nothing changes.
	std::filesystem::create_directories(root_.path() + "/etc/wlc/mqtt_ca.crt.tmp/x");
	EXPECT_FALSE(mast::replace_file("/etc/wlc/mqtt_ca.crt", "new"));
	EXPECT_EQ(wlctest::read_text(root_.path() + "/etc/wlc/mqtt_ca.crt"), "old");
	std::filesystem::remove_all(root_.path() + "/etc/wlc/mqtt_ca.crt.tmp");
	// A device that is full: the write fails part way, and the old file stays.
	std::filesystem::create_symlink("/dev/full", root_.path() + "/etc/wlc/mqtt_ca.crt.tmp");
	EXPECT_FALSE(mast::replace_file("/etc/wlc/mqtt_ca.crt", std::string(100000, 'x')));
	EXPECT_EQ(wlctest::read_text(root_.path() + "/etc/wlc/mqtt_ca.crt"), "old");
	EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(root_.path() + "/etc/wlc/mqtt_ca.crt.tmp")));
}

// The agent's stop is logged for every agent that was started, also one
// whose connection could not even be set up.
TEST_F(StateFile, AnAgentThatFailedToStartIsStillStopped)
{
	std::string log = root_.path() + "/mast.log";
	setenv("WLC_LOG_FILE", log.c_str(), 1);
	wlc::log_open("mast");
	unsetenv("WLC_LOG_FILE");
	{
		mast::Options opts;
		wlc::Bus bus;
		mast::Status status(mast::Role::Ap);
		mast::Agent agent(opts, bus, status, nullptr);
		EXPECT_EQ(agent.start("", 8883), -1);
	}
	{
		mast::Options opts;
		wlc::Bus bus;
		mast::Status status(mast::Role::Ap);
		mast::Agent never_started(opts, bus, status, nullptr);
	}
	wlc::log_close();
	std::string text = wlctest::read_text(log);
	EXPECT_NE(text.find("mast.err: Failed to create MQTT-instance\n"), std::string::npos) << text;
	// once: the agent that never started has nothing to stop
	size_t stop = text.find("Stop adopted agent");
	ASSERT_NE(stop, std::string::npos) << text;
	EXPECT_EQ(text.find("Stop adopted agent", stop + 1), std::string::npos) << text;
	EXPECT_NE(text.find("mast.notice: Stop adopted agent\n"), std::string::npos);
}

} // namespace
