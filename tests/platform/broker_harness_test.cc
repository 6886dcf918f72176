// The test broker: plain and TLS listeners on the system's fixed ports, in a
// network namespace of the test's own.
#include <gtest/gtest.h>

#include <future>
#include <thread>
#include <unistd.h>

#include "broker.h"
#include "harness.h"

namespace {

TEST(BrokerHarness, PlainAndTlsListenersCarryMessages)
{
	if (geteuid() != 0 || !wlctest::enter_private_netns())
		GTEST_SKIP() << "needs a network namespace of its own";
	wlctest::TempRoot root;
	wlctest::TestPki pki = wlctest::make_test_pki(root);
	wlctest::Broker broker(root, {1883, 8883, &pki, false});

	// A subscriber on the plain port sees what a TLS client publishes.
	auto sub = std::async(std::launch::async, [] {
		return wlctest::run({"/usr/bin/mosquitto_sub", "-h", "127.0.0.1", "-p", "1883", "-t", "zev/wlc/test",
				     "-C", "1", "-W", "10"}, std::chrono::seconds(15));
	});
	std::this_thread::sleep_for(std::chrono::milliseconds(300));
	auto pub = wlctest::run({"/usr/bin/mosquitto_pub", "-h", "localhost", "-p", "8883", "--cafile", pki.ca_cert,
				 "-t", "zev/wlc/test", "-m", "over tls"});
	EXPECT_EQ(pub.status, 0) << pub.err;
	auto got = sub.get();
	EXPECT_EQ(got.status, 0) << got.err;
	EXPECT_EQ(got.out, "over tls\n");

	// A client that does not trust the authority is refused.
	wlctest::TempRoot other;
	wlctest::TestPki stranger = wlctest::make_test_pki(other);
	auto refused = wlctest::run({"/usr/bin/mosquitto_pub", "-h", "localhost", "-p", "8883", "--cafile",
				     stranger.ca_cert, "-t", "zev/wlc/test", "-m", "x"});
	EXPECT_NE(refused.status, 0);
}

} // namespace
