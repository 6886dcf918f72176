// fleetd's broker tap with the site's own broker: APs publish their log
// entries as their mast does (by certificate, on their own topics), the
// controller's side publishes RRM commands as the bridge does (by password);
// fleetd, with the controller's password from a file, keeps them for the
// operator's "log_show" and "rrm_commands".
#include <gtest/gtest.h>

#include <wlc/blob.h>

#include <memory>
#include <string>
#include <vector>

#include "broker.h"
#include "fleetd_fixture.h"
#include "mqtt_client.h"
#include "site_authority.h"

namespace {

using namespace fleettest;

constexpr int kControllerPort = 1883;
constexpr int kApPort = 8883;
constexpr const char *kAp = "ap1-00-00-01";
constexpr const char *kTapId = "fleetd-tap";

std::vector<uint8_t> bytes(const wlc::BlobBuf &b)
{
	const auto *p = reinterpret_cast<const uint8_t *>(b.head());
	return {p, p + blob_raw_len(b.head())};
}

// A log entry as the system log service's stream delivers it to the AP's mast.
std::vector<uint8_t> entry(const std::string &msg, uint32_t priority = 30)
{
	wlc::BlobBuf b;
	b.add("msg", msg).add_u32("id", 3).add_u32("priority", priority).add_u32("source", 1).add_u64("time", 1700000000000);
	return bytes(b);
}

std::vector<uint8_t> command(const char *member, int32_t value)
{
	wlc::BlobBuf b;
	blobmsg_add_u32(b.raw(), member, static_cast<uint32_t>(value));
	return bytes(b);
}

std::string log_topic(const std::string &ap)
{
	return "zev/wlc/telemetry/ap/" + ap + "/log";
}

class FleetTap : public FleetdTest {
protected:
	void SetUp() override
	{
		if (geteuid() != 0 || !wlctest::enter_private_netns())
			GTEST_SKIP() << "needs a network namespace of its own (root)";
		FleetdTest::SetUp();
		site_ = std::make_unique<wlctest::SiteAuthority>(*root_);
		start_broker();
		// Ended as an editor on another system might end it.
		wlctest::write_text(root_->path() + "/etc/fleet/broker.pass", site_->controller_password() + "\r\n");
	}

	void TearDown() override
	{
		fleetd_.reset();
		broker_.reset();
		FleetdTest::TearDown();
	}

	void start_broker()
	{
		wlctest::BrokerOptions opts;
		opts.port = kControllerPort;
		opts.tls_port = kApPort;
		opts.site = site_.get();
		broker_ = std::make_unique<wlctest::Broker>(*root_, opts);
	}

	// fleetd with the tap on, once the broker holds both of its subscriptions
	// (the n-th time the broker logs them).
	void start_tapping(int n = 1)
	{
		start_fleetd({"-m", "auto", "-n", "hq", "-b", std::to_string(kControllerPort), "-u",
			      site_->controller_user(), "-P", "/etc/fleet/broker.pass"});
		wait_subscribed(n);
	}

	void wait_subscribed(int n)
	{
		for (const char *filter : {"zev/wlc/telemetry/ap/+/log", "zev/wlc/rrm/+/ap/+/+/cmd/config"})
			ASSERT_TRUE(wlctest::wait_until([&] { return broker_->subscriptions(kTapId, filter) >= n; },
							wlctest::kStartLimit))
				<< filter << "\n" << log_text() << broker_->log_text();
	}

	// Publishes a payload fleetd refuses after the messages before it on the
	// same connection, and waits for fleetd's line about it: all before it
	// have been taken by then.
	void settle(wlctest::MqttClient &client, const std::string &topic)
	{
		std::string line = "Ignored tapped message on " + topic;
		size_t before = logged(line);
		ASSERT_TRUE(client.publish(topic, {'b', 'a', 'd'}, 0));
		ASSERT_TRUE(wlctest::wait_until([&] { return logged(line) > before; }, wlctest::kStartLimit)) << log_text();
	}

	std::unique_ptr<wlctest::MqttClient> ap_client(const std::string &id)
	{
		return std::make_unique<wlctest::MqttClient>(id, kApPort, site_->ap_auth(id));
	}

	std::unique_ptr<wlctest::SiteAuthority> site_;
	std::unique_ptr<wlctest::Broker> broker_;
};

TEST_F(FleetTap, KeepsAnApsLogLinesNewestLast)
{
	start_tapping();
	auto ap = ap_client(kAp);
	for (int i = 0; i < 105; i++)
		ASSERT_TRUE(ap->publish(log_topic(kAp), entry("line " + std::to_string(i), i == 104 ? 27 : 30), 0));
	settle(*ap, log_topic(kAp));
	EXPECT_EQ(logged("Ignored tapped message on " + log_topic(kAp) + ": not a log entry"), 1u)
		<< "one line per refused payload";

	std::string reply;
	ASSERT_EQ(call("fleet", "log_show", R"({"id":"ap1-00-00-01","lines":2})", &reply), UBUS_STATUS_OK) << reply;
	EXPECT_NE(reply.find(R"("priority":30,"msg":"line 103"},{"at":)"), std::string::npos) << reply;
	EXPECT_NE(reply.find(R"("priority":27,"msg":"line 104"}]})"), std::string::npos) << reply;
	ASSERT_EQ(call("fleet", "log_show", R"({"id":"ap1-00-00-01"})", &reply), UBUS_STATUS_OK);
	EXPECT_EQ(reply.find(R"("msg":"line 4")"), std::string::npos) << "only the last 100 lines are kept";
	EXPECT_NE(reply.find(R"("msg":"line 5")"), std::string::npos) << reply;
	EXPECT_NE(reply.find(R"("msg":"line 104")"), std::string::npos) << reply;
	ASSERT_EQ(call("fleet", "log_show", R"({"id":"ap1-00-00-02"})", &reply), UBUS_STATUS_OK);
	EXPECT_EQ(reply, R"({"id":"ap1-00-00-02","lines":[]})");
}

TEST_F(FleetTap, RecordsChannelAndPowerCommandsIncludingThoseToAll)
{
	start_tapping();
	wlctest::MqttClient bridge("ctl-bridge", kControllerPort, site_->controller_auth());
	ASSERT_TRUE(bridge.publish("zev/wlc/rrm/hq/ap/ap1-00-00-01/1/cmd/config", command("channel", 44)));
	ASSERT_TRUE(bridge.publish("zev/wlc/rrm/hq/ap/ap1-00-00-02/1/cmd/config", command("power", 14)));
	ASSERT_TRUE(bridge.publish("zev/wlc/rrm/hq/ap/all/1/cmd/config", command("channel", 36)));
	ASSERT_TRUE(bridge.publish("zev/wlc/rrm/hq/ap/all/0/cmd/config", command("channel", 6)));
	settle(bridge, "zev/wlc/rrm/hq/ap/all/1/cmd/config");

	std::string reply;
	ASSERT_EQ(call("fleet", "rrm_commands", R"({"site":"hq","radio":1})", &reply), UBUS_STATUS_OK) << reply;
	EXPECT_NE(reply.find(R"("ap":"ap1-00-00-01","radio":1,"channel":44})"), std::string::npos) << reply;
	EXPECT_NE(reply.find(R"("ap":"ap1-00-00-02","radio":1,"power":14})"), std::string::npos) << reply;
	EXPECT_NE(reply.find(R"("ap":"all","radio":1,"channel":36}]})"), std::string::npos) << reply;
	EXPECT_EQ(reply.find(R"("channel":6)"), std::string::npos) << "radio 0's command is another list";
	ASSERT_EQ(call("fleet", "rrm_commands", R"({"site":"hq","radio":1,"limit":1})", &reply), UBUS_STATUS_OK);
	EXPECT_EQ(reply.find(R"("channel":44)"), std::string::npos) << reply;
	EXPECT_NE(reply.find(R"("ap":"all","radio":1,"channel":36})"), std::string::npos) << reply;
}

TEST_F(FleetTap, RefusesBadCallsWithAMessage)
{
	start_tapping();
	for (const char *args : {R"({})", R"({"id":"no such/ap"})", R"({"id":"ap1-00-00-01","lines":0})",
				 R"({"id":"ap1-00-00-01","lines":101})", R"({"id":"ap1-00-00-01","lines":"5"})"}) {
		std::string reply;
		EXPECT_EQ(call("fleet", "log_show", args, &reply), UBUS_STATUS_INVALID_ARGUMENT) << args;
		EXPECT_NE(reply.find("\"message\""), std::string::npos) << args << " " << reply;
	}
	for (const char *args : {R"({"site":"hq"})", R"({"site":"h q","radio":1})", R"({"site":"hq","radio":256})",
				 R"({"site":"hq","radio":1,"limit":51})", R"({"site":"hq","radio":1,"limit":-1})"}) {
		std::string reply;
		EXPECT_EQ(call("fleet", "rrm_commands", args, &reply), UBUS_STATUS_INVALID_ARGUMENT) << args;
		EXPECT_NE(reply.find("\"message\""), std::string::npos) << args << " " << reply;
	}
}

TEST_F(FleetTap, ConnectsAgainWhenTheBrokerRestarts)
{
	start_tapping();
	broker_.reset();
	start_broker();
	wait_subscribed(2);
	auto ap = ap_client(kAp);
	ASSERT_TRUE(ap->publish(log_topic(kAp), entry("after the restart"), 0));
	settle(*ap, log_topic(kAp));
	std::string reply;
	ASSERT_EQ(call("fleet", "log_show", R"({"id":"ap1-00-00-01"})", &reply), UBUS_STATUS_OK);
	EXPECT_NE(reply.find(R"("msg":"after the restart")"), std::string::npos) << reply;
}

// Without -b nothing is tapped, and the methods say so.
TEST_F(FleetTap, OffByDefault)
{
	start_fleetd();
	std::string reply;
	EXPECT_EQ(call("fleet", "log_show", R"({"id":"ap1-00-00-01"})", &reply), UBUS_STATUS_NOT_SUPPORTED);
	EXPECT_NE(reply.find("the broker tap is off"), std::string::npos) << reply;
	EXPECT_EQ(call("fleet", "rrm_commands", R"({"site":"hq","radio":1})", &reply), UBUS_STATUS_NOT_SUPPORTED);
	EXPECT_EQ(broker_->subscriptions(kTapId, "zev/wlc/telemetry/ap/+/log"), 0);
}

// The password comes from the file: with another one the broker refuses
// the tap, which says so, and fleetd serves on.
TEST_F(FleetTap, AWrongPasswordIsRefusedByTheBroker)
{
	wlctest::write_text(root_->path() + "/etc/fleet/broker.pass", "not-the-secret\r\n");
	start_fleetd({"-m", "auto", "-b", std::to_string(kControllerPort), "-P", "/etc/fleet/broker.pass"});
	ASSERT_TRUE(wlctest::wait_until([&] { return logged("Broker tap refused by 127.0.0.1:1883") > 0; },
					wlctest::kStartLimit))
		<< log_text();
	EXPECT_EQ(broker_->subscriptions(kTapId, "zev/wlc/telemetry/ap/+/log"), 0);
	std::string reply;
	EXPECT_EQ(call("fleet", "log_show", R"({"id":"ap1-00-00-01"})", &reply), UBUS_STATUS_OK) << reply;
}

TEST_F(FleetTap, AMissingPasswordFileStopsTheStart)
{
	wlctest::Process fleetd({std::string(WLC_BUILD_DIR) + "/fleet/fleetd", "-s", bus_->socket(), "-b", "1883", "-P",
				 "/etc/fleet/none.pass"},
				{"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + root_->path() + "/fleetd.log"});
	int status = fleetd.wait(wlctest::kStartLimit);
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 1);
	EXPECT_EQ(logged("Failed to read the broker password from /etc/fleet/none.pass"), 1u) << log_text();
}

} // namespace
