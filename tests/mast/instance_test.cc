// The MQTT instance on our event loop against the real broker: TLS, large
// messages, reconnection, routing, wills; and the LED indicator on a
// simulated device.
#include <gtest/gtest.h>

#include <filesystem>

#include <openssl/x509.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "broker.h"
#include "bridge/bridge.h"
#include "harness.h"
#include "led/indicator.h"
#include "mqtt/instance.h"
#include "mqtt_client.h"
#include "scripted_broker.h"
#include "sim_site.h"

namespace {

using namespace std::chrono_literals;
using wlctest::pump;
using Bytes = std::vector<uint8_t>;

class Instance : public wlctest::DeviceTest {
protected:
	void SetUp() override
	{
		if (geteuid() != 0 || !wlctest::enter_private_netns())
			GTEST_SKIP() << "needs a network namespace of its own (root)";
		DeviceTest::SetUp();
		uloop_init();
		pki_ = wlctest::make_test_pki(*root_);
		broker_ = std::make_unique<wlctest::Broker>(*root_, wlctest::BrokerOptions{1883, 8883, &pki_, false});
		ASSERT_TRUE(bus_client_.connect());
		bus_client_.watch();
	}
	void TearDown() override
	{
		if (!root_)
			return;
		inst_.reset();
		bus_client_.close();
		broker_.reset();
		uloop_done();
		DeviceTest::TearDown();
	}

	mast::MqttConfig plain(const std::string &name = "wlc")
	{
		mast::MqttConfig c;
		c.name = name;
		c.client_id = "test-" + name;
		c.host = "localhost";
		c.port = 1883;
		c.keepalive = 5;
		return c;
	}
	mast::TlsSettings tls(const std::string &cafile)
	{
		mast::TlsSettings t;
		t.cafile = cafile;
		t.certfile = pki_.client_cert;
		t.keyfile = pki_.client_key;
		t.tls_insecure = false;
		t.verify_peer = true;
		return t;
	}

	wlctest::TestPki pki_;
	std::unique_ptr<wlctest::Broker> broker_;
	wlc::Bus bus_client_;
	std::unique_ptr<mast::MqttInstance> inst_;
};

double cpu_seconds()
{
	rusage ru;
	getrusage(RUSAGE_SELF, &ru);
	return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
	       static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

TEST_F(Instance, RefusesIncompleteConfiguration)
{
	auto c = plain();
	c.host.clear();
	EXPECT_EQ(mast::MqttInstance::create(c, std::nullopt, bus_client_), nullptr);
	c = plain("");
	EXPECT_EQ(mast::MqttInstance::create(c, std::nullopt, bus_client_), nullptr);
	c = plain();
	c.port = 0;
	EXPECT_EQ(mast::MqttInstance::create(c, std::nullopt, bus_client_), nullptr);
}

TEST_F(Instance, TlsLargeMessagesAndAnIdleLoop)
{
	auto c = plain();
	c.port = 8883;
	inst_ = mast::MqttInstance::create(c, tls(pki_.ca_cert), bus_client_);
	ASSERT_NE(inst_, nullptr);
	int connects = 0;
	inst_->on_connect([&] { connects++; });
	ASSERT_TRUE(pump([&] { return inst_->connected(); }));
	EXPECT_EQ(connects, 1);
	EXPECT_NE(bus_client_.lookup("mqtt.wlc"), 0u);
	auto cert = inst_->peer_certificate();
	ASSERT_NE(cert, nullptr);
	char cn[64] = {};
	X509_NAME_get_text_by_NID(X509_get_subject_name(cert.get()), NID_commonName, cn, sizeof(cn));
	EXPECT_STREQ(cn, "localhost");

	Bytes big(2 * 1024 * 1024);
	for (size_t i = 0; i < big.size(); i++)
		big[i] = static_cast<uint8_t>(i * 31);
	Bytes got;
	int messages = 0;
	ASSERT_EQ(inst_->subscribe("zev/wlc/big/#", 1, [&](const mast::TopicLevels &, const void *p, size_t l) {
		auto *b = static_cast<const uint8_t *>(p);
		got.assign(b, b + l);
		messages++;
	}), 0);
	ASSERT_TRUE(pump([&] { return broker_->subscriptions("test-wlc", "zev/wlc/big/#") > 0; }));
	ASSERT_EQ(inst_->publish("zev/wlc/big/one", big.data(), big.size(), 1, false), 0);
	ASSERT_TRUE(pump([&] { return messages == 1; }, 10s));
	EXPECT_EQ(got, big);

	double before = cpu_seconds();
	pump([] { return false; }, 2s);
	EXPECT_LT(cpu_seconds() - before, 0.1); // connected over TLS and idle: no spinning
}

TEST_F(Instance, UntrustedBrokerIsRefusedUnlessVerificationIsOff)
{
	wlctest::TempRoot other;
	wlctest::TestPki stranger = wlctest::make_test_pki(other);
	auto c = plain();
	c.port = 8883;
	inst_ = mast::MqttInstance::create(c, tls(stranger.ca_cert), bus_client_);
	ASSERT_NE(inst_, nullptr);
	double before = cpu_seconds();
	EXPECT_FALSE(pump([&] { return inst_->connected(); }, 2500ms));
	EXPECT_LT(cpu_seconds() - before, 0.3); // failing handshakes do not spin either
	auto t = tls(stranger.ca_cert);
	t.verify_peer = false;
	t.tls_insecure = true;
	inst_ = mast::MqttInstance::create(c, t, bus_client_);
	EXPECT_TRUE(pump([&] { return inst_->connected(); }));
}

TEST_F(Instance, ReconnectsAndTheOwnerSubscribesAgain)
{
	inst_ = mast::MqttInstance::create(plain(), std::nullopt, bus_client_);
	int connects = 0, losses = 0, received = 0;
	inst_->on_connect([&] {
		connects++;
		inst_->subscribe("zev/wlc/echo", 1, [&](const mast::TopicLevels &, const void *, size_t) { received++; });
	});
	inst_->on_disconnect([&] { losses++; });
	ASSERT_TRUE(pump([&] { return connects == 1; }));
	broker_.reset();
	ASSERT_TRUE(pump([&] { return losses == 1; }, 3s));
	EXPECT_EQ(bus_client_.lookup("mqtt.wlc"), 0u);
	std::filesystem::remove(root_->at("/broker/broker.log")); // the new broker's log starts empty
	broker_ = std::make_unique<wlctest::Broker>(*root_, wlctest::BrokerOptions{1883, 8883, &pki_, false});
	ASSERT_TRUE(pump([&] { return connects == 2; }, 15s));
	EXPECT_EQ(losses, 1);
	EXPECT_NE(bus_client_.lookup("mqtt.wlc"), 0u);
	ASSERT_TRUE(pump([&] { return broker_->subscriptions("test-wlc", "zev/wlc/echo") > 0; }));
	wlctest::MqttClient peer("peer", 1883);
	peer.publish("zev/wlc/echo", {1, 2, 3}, 1);
	EXPECT_TRUE(pump([&] { return received == 1; }));
}

// A broker that starts a clean session numbers its messages from 1 again.
// A QoS 2 message whose connection ended before its release must not be
// handed over for a new message of the same number, nor hide that message;
// and what the instance published without an acknowledgement is sent again.
TEST_F(Instance, ANewSessionsMessagesAreNotTakenForTheLostOnes)
{
	constexpr int kPort = 1885;
	masttest::ScriptedBroker scripted(kPort);
	ASSERT_TRUE(scripted.listening());
	std::atomic<bool> script_done{false}, stop{false};
	std::string script_error;
	bool resent = false;
	std::thread script([&] {
		auto fail = [&](const char *why) { script_error = why; };
		std::optional<masttest::ScriptedConnection> first = scripted.accept(20s);
		if (!first)
			return fail("no first connection");
		first->ack_publishes = false; // the instance's message stays unacknowledged
		std::optional<masttest::MqttPacket> sub = first->until(8, 10s);
		if (!sub || !first->answer(*sub) || !first->publish_qos2(1, "zev/wlc/echo", "old") || !first->until(5, 10s) ||
		    !first->until_published("zev/wlc/out", 10s))
			return fail("first connection: no subscription, PUBREC or publication");
		first->close(); // before the release of "old"
		std::optional<masttest::ScriptedConnection> second = scripted.accept(20s);
		if (!second)
			return fail("no second connection");
		sub = second->until(8, 10s);
		if (!sub || !second->answer(*sub) || !second->publish_qos2(1, "zev/wlc/echo", "new") || !second->until(5, 10s) ||
		    !second->ack(6, 1) || !second->until(7, 10s))
			return fail("second connection: no subscription, PUBREC or PUBCOMP");
		resent = second->until_published("zev/wlc/out", 10s);
		script_done = true;
		while (!stop && second->next(100ms)) {
		}
	});
	mast::MqttConfig c = plain();
	c.port = kPort;
	inst_ = mast::MqttInstance::create(c, std::nullopt, bus_client_);
	std::vector<std::string> received;
	int connects = 0;
	inst_->on_connect([&] {
		inst_->subscribe("zev/wlc/echo", 2, [&](const mast::TopicLevels &, const void *p, size_t n) {
			received.emplace_back(static_cast<const char *>(p), n);
		});
		if (++connects == 1)
			inst_->publish("zev/wlc/out", "out", 3, 1, false);
	});
	bool done = pump([&] { return script_done || !script_error.empty(); }, 60s);
	stop = true;
	script.join();
	ASSERT_TRUE(done);
	ASSERT_EQ(script_error, "");
	EXPECT_EQ(received, std::vector<std::string>{"new"});
	EXPECT_TRUE(resent) << "the unacknowledged message was not sent again";
	EXPECT_EQ(connects, 2);
}

TEST_F(Instance, FirstMatchingEntryTakesTheMessage)
{
	inst_ = mast::MqttInstance::create(plain(), std::nullopt, bus_client_);
	ASSERT_TRUE(pump([&] { return inst_->connected(); }));
	std::vector<std::string> seen;
	auto owned = std::make_shared<int>(1);
	ASSERT_EQ(inst_->subscribe("zev/wlc/+/x", 1, [&seen, owned](const mast::TopicLevels &t, const void *, size_t) {
		seen.push_back("wild " + t[2]);
	}), 0);
	ASSERT_EQ(inst_->subscribe("zev/wlc/a/x", 1, [&](const mast::TopicLevels &, const void *, size_t) { seen.push_back("exact"); }), 0);
	EXPECT_EQ(owned.use_count(), 2);
	// The same filter again: first place kept, new handler, old one released.
	ASSERT_EQ(inst_->subscribe("zev/wlc/+/x", 1, [&](const mast::TopicLevels &t, const void *, size_t) {
		seen.push_back("wild2 " + t[2]);
	}), 0);
	EXPECT_EQ(owned.use_count(), 1);
	EXPECT_EQ(inst_->subscription_count(), 2u);
	// The re-subscription to the same filter is the last one made.
	ASSERT_TRUE(pump([&] { return broker_->subscriptions("test-wlc", "zev/wlc/+/x") >= 2; }));
	ASSERT_GE(broker_->subscriptions("test-wlc", "zev/wlc/a/x"), 1);
	wlctest::MqttClient peer("peer", 1883);
	peer.publish("zev/wlc/a/x", {0}, 1);
	peer.publish("zev/wlc/b/x", {0}, 1); // delivered after the first: nothing more came in between
	ASSERT_TRUE(pump([&] { return seen.size() >= 2; }));
	EXPECT_EQ(seen, (std::vector<std::string>{"wild2 a", "wild2 b"}));
}

TEST_F(Instance, WillAndRetainedMessages)
{
	wlctest::MqttClient watcher("watcher", 1883);
	ASSERT_TRUE(watcher.subscribe("zev/wlc/control/ap/+/online"));
	Bytes offline = {0, 0, 0, 4};
	Bytes online = {0, 0, 0, 8, 1, 2, 3, 4};
	// The instance runs in a child that then dies without a DISCONNECT.
	pid_t pid = fork();
	if (pid == 0) {
		uloop_done();
		uloop_init();
		wlc::Bus bus;
		if (!bus.connect())
			_exit(1);
		bus.watch();
		auto inst = mast::MqttInstance::create(plain("ap"), std::nullopt, bus);
		inst->set_will("zev/wlc/control/ap/ap1/online", offline.data(), offline.size(), 2, true);
		inst->on_connect([&] { inst->publish("zev/wlc/control/ap/ap1/online", online.data(), online.size(), 2, true); });
		uloop_run();
		_exit(0);
	}
	wlctest::MqttMessage m;
	ASSERT_TRUE(watcher.next(m));
	EXPECT_EQ(m.payload, online);
	kill(pid, SIGKILL);
	waitpid(pid, nullptr, 0);
	ASSERT_TRUE(watcher.next(m));
	EXPECT_EQ(m.payload, offline);
	// The will was retained: a newcomer gets it at once.
	wlctest::MqttClient late("late", 1883);
	ASSERT_TRUE(late.subscribe("zev/wlc/control/ap/+/online"));
	ASSERT_TRUE(late.next(m));
	EXPECT_TRUE(m.retain);
	EXPECT_EQ(m.payload, offline);
}

TEST(LedIndicator, BlinkFollowsTheStationCount)
{
	wlctest::TempRoot root;
	wlctest::SimSite site(root, {{"ap1", R"("radios": [{"band": 2, "ssids": ["a", "b"]}])"}});
	site.use("ap1");
	uloop_init();
	auto &led = mast::LedIndicator::instance();
	std::string dir = site.root_of("ap1") + "/sys/class/leds/zev-ap1:blue:sys/";
	auto trigger = [&] { return wlctest::read_text(dir + "trigger"); };
	led.set_const({0, 0, 255});
	led.start_station_blink({0, 0, 255}, 2000, 50);
	uloop_run_timeout(120);
	EXPECT_EQ(trigger(), "none"); // no stations: nothing written, the constant colour stays
	EXPECT_EQ(led.last_period(), 0u);
	int added = 0;
	auto grow_to = [&](int n) {
		for (; added < n; added++) {
			char mac[32];
			std::snprintf(mac, sizeof(mac), "aa:bb:cc:00:00:%02x", added);
			ASSERT_EQ(site.command(std::string("sta add ap1 ") + (added % 2 ? "ra1 " : "ra0 ") + mac), "ok");
		}
		uloop_run_timeout(150);
	};
	grow_to(4);
	EXPECT_EQ(led.last_period(), 2000u);
	EXPECT_EQ(trigger(), "timer");
	EXPECT_EQ(wlctest::read_text(dir + "delay_on"), "2000");
	grow_to(5);
	EXPECT_EQ(led.last_period(), 1000u);
	// Unchanged count: the LED files are not written again.
	wlctest::write_text(dir + "delay_on", "untouched");
	uloop_run_timeout(150);
	EXPECT_EQ(wlctest::read_text(dir + "delay_on"), "untouched");
	grow_to(16);
	EXPECT_EQ(led.last_period(), 1000u);
	grow_to(17);
	EXPECT_EQ(led.last_period(), 500u);
	EXPECT_EQ(wlctest::read_text(dir + "delay_off"), "500");
	led.stop_station_blink();
	uloop_done();
}

} // namespace

namespace {

// Handlers can tell a retained message handed over on subscription from a
// live one: the controller answers requests with live responses only, and
// the AP acts on live reset and reboot commands only.
TEST_F(Instance, HandlersSeeWhetherAMessageWasRetained)
{
	wlctest::MqttClient peer("peer", 1883);
	ASSERT_TRUE(peer.publish("zev/wlc/telemetry/ap/a/response/ubus", {0}, 1, true));
	inst_ = mast::MqttInstance::create(plain(), std::nullopt, bus_client_);
	ASSERT_TRUE(pump([&] { return inst_->connected(); }));
	std::vector<bool> retained;
	ASSERT_EQ(inst_->subscribe("zev/wlc/telemetry/ap/+/response/+", 1, [&](const mast::TopicLevels &, const void *, size_t) {
		retained.push_back(inst_->last_retained());
	}), 0);
	ASSERT_TRUE(pump([&] { return retained.size() == 1; }));
	ASSERT_TRUE(peer.publish("zev/wlc/telemetry/ap/a/response/ubus", {1}, 1, true));
	ASSERT_TRUE(pump([&] { return retained.size() == 2; }));
	EXPECT_EQ(retained, (std::vector<bool>{true, false}));
}

} // namespace
