// An AP joins the real controller over TLS and is adopted: the join request
// reaches the AP database, the AP keeps the broker's certificate and address,
// and its agent connects trusting only that certificate.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

#include "ap_fixture.h"

namespace masttest {
namespace {

class ApJoin : public ApTest, public ::testing::WithParamInterface<bool> {};

std::string db_calls_with(const std::vector<std::string> &calls, const std::string &needle)
{
	for (const std::string &c : calls)
		if (c.find(needle) != std::string::npos)
			return c;
	return "";
}

// Both kinds of broker certificate: one issued by a CA the AP never saw,
// and a self-signed one. The saved certificate is trusted either way.
TEST_P(ApJoin, JoinsAndConnectsPinnedToTheSavedCertificate)
{
	start_broker(ApBroker{GetParam()});
	wlctest::MqttClient services("services", 1883);
	ASSERT_TRUE(services.subscribe("zev/wlc/control/ap/+/join_request"));
	start_ap({"-h", "127.0.0.1:8883"});
	ASSERT_TRUE(pump([&] { return ap_status() == "join_req"; }, 15s)) << ap_log();
	answer_join(services);
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Connected"); }, 20s)) << ap_log();
	EXPECT_EQ(ap_status(), "connect");

	EXPECT_EQ(wlctest::read_text(ap_path("/etc/wlc/mqtt_ca.crt")), wlctest::read_text(server_cert_path()));
	EXPECT_EQ(wlctest::read_text(ap_path("/etc/wlc/wlc_addr")), "127.0.0.1:8883");
	EXPECT_EQ(wlctest::read_text(ap_path("/etc/wlc/wizard_skip")), "1");
	// The AP's record in the database: certificate, MAC and running configuration.
	ASSERT_TRUE(pump([&] { return !db_calls_with(calls_, "\"join_req\":true").empty(); })) << log_text();
	std::string rec = db_calls_with(calls_, "\"join_req\":true");
	std::string cert = wlctest::read_text(pki_.client_cert);
	EXPECT_NE(rec.find("\"custom_config\":{\"ssid\":\"office\",\"vlan\":7}"), std::string::npos) << rec;
	EXPECT_NE(rec.find("\"mac\":\""), std::string::npos) << rec;
	EXPECT_NE(rec.find("\"hostname\":\"ap-one\""), std::string::npos) << rec;
	EXPECT_NE(rec.find("\"fw_revision\":\"r42-abc\""), std::string::npos) << rec;
	EXPECT_NE(rec.find("BEGIN CERTIFICATE"), std::string::npos) << rec;
	// Online through the agent's own connection.
	ASSERT_TRUE(pump([&] { return !db_calls_with(calls_, "\"online\":true").empty(); })) << log_text();
	EXPECT_NE(ap_log().find("mast.notice: Receive JOIN_RESP from 127.0.0.1:8883"), std::string::npos);
	EXPECT_NE(ap_log().find("mast.notice: Save 127.0.0.1:8883 as WLC address"), std::string::npos);
	EXPECT_NE(ap_log().find("mast.notice: DISCOVER: finish"), std::string::npos);
	// The AP's bridge object is now the agent's; the probes' one is gone.
	EXPECT_NE(ap_bus_.lookup("mqtt.wlc"), 0u);
	EXPECT_TRUE(pump([&] { return ap_bus_.lookup("mqtt.discover0") == 0; }, 5s));
}

INSTANTIATE_TEST_SUITE_P(BrokerCertificate, ApJoin, ::testing::Values(false, true),
			 [](const auto &info) { return info.param ? "SelfSigned" : "IssuedByCa"; });

TEST_F(ApTest, AdoptedApNeverAcceptsABrokerWithAnotherCertificate)
{
	// The saved certificate is some other controller's.
	wlctest::write_text(ap_path("/etc/wlc/mqtt_ca.crt"), wlctest::read_text(self_signed_cert_));
	start_ap({"-a", "-h", "127.0.0.1:8883"});
	ASSERT_TRUE(pump([&] { return ap_status() == "connect"; }, 15s)) << ap_log();
	// Two attempts refused by the AP's own verification, seen by the broker.
	std::string broker_log = root_->path() + "/broker/broker.log";
	ASSERT_TRUE(pump([&] {
		std::string text = wlctest::read_text(broker_log);
		size_t first = text.find("OpenSSL Error");
		return first != std::string::npos && text.find("OpenSSL Error", first + 1) != std::string::npos;
	}, 30s)) << wlctest::read_text(broker_log);
	EXPECT_FALSE(ap_logged("DISCOVER: connected to"));
	EXPECT_EQ(db_calls_with(calls_, "\"online\":true"), "");
}

TEST_F(ApTest, AdoptedApConnectsToItsControllerAndIsShownOfflineOnStop)
{
	wlctest::write_text(ap_path("/etc/wlc/mqtt_ca.crt"), wlctest::read_text(pki_.server_cert));
	start_ap({"-a", "-h", "127.0.0.1"});
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Connected"); }, 20s))
		<< ap_log() << wlctest::read_text(root_->path() + "/broker/broker.log");
	EXPECT_NE(ap_log().find("mast.notice: Start adopted agent discovery"), std::string::npos);
	EXPECT_NE(ap_log().find("mast.info: Connecting to 127.0.0.1:8883"), std::string::npos);
	ASSERT_TRUE(pump([&] { return !db_calls_with(calls_, "\"online\":true").empty(); }));
	calls_.clear();
	ap_mast_->kill(SIGTERM);
	EXPECT_EQ(ap_mast_->wait(10s), 0);
	ASSERT_TRUE(pump([&] { return !db_calls_with(calls_, "\"online\":false").empty(); })) << ap_log();
	EXPECT_NE(ap_log().find("mast.notice: Stop adopted agent"), std::string::npos);
}

TEST_F(ApTest, TwoJoinResponsesInOneTurnStartOneAgent)
{
	wlctest::MqttClient services("services", 1883);
	ASSERT_TRUE(services.subscribe("zev/wlc/control/ap/+/join_request"));
	start_ap({"-h", "127.0.0.1:8883"});
	wlctest::MqttMessage m;
	ASSERT_TRUE(services.next(m, 30s)) << ap_log();
	std::string topic = m.topic.substr(0, m.topic.rfind('/')) + "/join_response";
	ASSERT_TRUE(services.publish(topic, {}, 2));
	ASSERT_TRUE(services.publish(topic, {1, 2, 3}, 2));
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Connected"); }, 20s)) << ap_log();
	std::string log = ap_log();
	size_t first = log.find("Receive JOIN_RESP");
	ASSERT_NE(first, std::string::npos);
	EXPECT_EQ(log.find("Receive JOIN_RESP", first + 1), std::string::npos) << log;
	first = log.find("Start adopted agent\n");
	EXPECT_EQ(log.find("Start adopted agent\n", first + 1), std::string::npos) << log;
}

} // namespace
} // namespace masttest

namespace masttest {
namespace {

// A client certificate file longer than the join request carries is not
// sent cut short: the request goes without it.
TEST_F(ApTest, ACertificateTooLongForTheJoinRequestIsNotSentCut)
{
	wlctest::write_text(ap_path("/data/ssl/mqtt.crt"),
			    wlctest::read_text(pki_.client_cert) + std::string(4096, '#') + "\n");
	wlctest::MqttClient services("services", 1883);
	ASSERT_TRUE(services.subscribe("zev/wlc/control/ap/+/join_request"));
	start_ap({"-h", "127.0.0.1:8883"});
	wlctest::MqttMessage m;
	ASSERT_TRUE(services.next(m, 30s)) << ap_log();
	std::string fields = fields_json(m.payload);
	EXPECT_EQ(fields.find("\"cert\""), std::string::npos) << fields;
	EXPECT_NE(fields.find("\"config\":{\"ssid\":\"office\",\"vlan\":7}"), std::string::npos) << fields;
	EXPECT_NE(ap_log().find("mast.warning: Client certificate missing or longer than 4095 bytes"), std::string::npos);
}

} // namespace
} // namespace masttest

namespace masttest {
namespace {

// Two controllers answer the search; the AP joins the first and its
// probe at the other, which had announced the AP online there, takes that
// back: ONLINE false reaches that broker before the probe's clean
// disconnect (which drops its will), so the other controller does not keep
// the AP online for ever.
TEST_F(ApTest, ProbesThatWereNotChosenAnnounceTheApOffline)
{
	wlctest::Broker other(*root_, wlctest::BrokerOptions{1884, 8884, &pki_, true});
	wlctest::MqttClient services("services", 1883);
	ASSERT_TRUE(services.subscribe("zev/wlc/control/ap/+/join_request"));
	wlctest::MqttClient watcher("watcher", 1884);
	ASSERT_TRUE(watcher.subscribe("zev/wlc/control/ap/+/online"));
	start_ap({"-h", "127.0.0.1:8883", "-h", "127.0.0.1:8884"});
	wlctest::MqttMessage m;
	ASSERT_TRUE(watcher.next(m, 30s)) << ap_log();
	ASSERT_NE(fields_json(m.payload).find("\"online\":true"), std::string::npos) << fields_json(m.payload);
	answer_join(services);
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Connected"); }, 20s)) << ap_log();
	EXPECT_NE(ap_log().find("mast.notice: Receive JOIN_RESP from 127.0.0.1:8883"), std::string::npos);
	ASSERT_TRUE(watcher.next(m, 10s)) << ap_log();
	EXPECT_NE(fields_json(m.payload).find("\"online\":false"), std::string::npos) << fields_json(m.payload);
	// What the other controller learns from now on: the AP is offline.
	wlctest::MqttClient late_other("late-other", 1884);
	ASSERT_TRUE(late_other.subscribe("zev/wlc/control/ap/+/online"));
	ASSERT_TRUE(late_other.next(m));
	EXPECT_NE(fields_json(m.payload).find("\"online\":false"), std::string::npos);
	// And the chosen one: online, through the agent.
	wlctest::MqttClient late("late", 1883);
	ASSERT_TRUE(late.subscribe("zev/wlc/control/ap/+/online"));
	ASSERT_TRUE(pump([&] {
		return late.next(m, 100ms) && fields_json(m.payload).find("\"online\":true") != std::string::npos;
	}, 10s));
}

// The system LED: yellow while searching and connecting, green once
// adopted, yellow again while the controller is away.
TEST_F(ApTest, TheLedFollowsTheAgentsState)
{
	std::string led = ap_path("/sys/class/leds/zev-ap1:");
	auto colour = [&] {
		return wlctest::read_text(led + "red:sys/brightness") + "," +
		       wlctest::read_text(led + "green:sys/brightness") + "," +
		       wlctest::read_text(led + "blue:sys/brightness");
	};
	for (const char *c : {"red", "green", "blue"})
		wlctest::write_text(led + c + ":sys/brightness", "7");
	auto services = std::make_unique<wlctest::MqttClient>("services", 1883);
	ASSERT_TRUE(services->subscribe("zev/wlc/control/ap/+/join_request"));
	start_ap({"-h", "127.0.0.1:8883"});
	ASSERT_TRUE(pump([&] { return ap_status() == "join_req"; }, 15s)) << ap_log();
	EXPECT_EQ(colour(), "255,255,0");
	answer_join(*services);
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Connected"); }, 20s)) << ap_log();
	EXPECT_EQ(colour(), "255,255,0");
	auto version = [&] {
		ASSERT_TRUE(services->publish("zev/wlc/firmware/version",
					      payload(R"({"version":"23.05.2","revision":"R42-ABC"})"), 2, true));
	};
	version();
	ASSERT_TRUE(pump([&] { return ap_status() == "adopted"; }, 15s)) << ap_log();
	EXPECT_EQ(colour(), "0,255,0");
	// The broker restarts (forgetting the retained VERSION): yellow until adopted again.
	services.reset();
	start_broker();
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Disconnected"); }, 20s)) << ap_log();
	// The colour follows the line in the log.
	ASSERT_TRUE(pump([&] { return colour() == "255,255,0"; }, 5s)) << colour();
	services = std::make_unique<wlctest::MqttClient>("services", 1883);
	auto connections = [&] {
		std::string log = ap_log();
		size_t n = 0;
		for (size_t at = log.find("mast.notice: Connected"); at != std::string::npos;
		     at = log.find("mast.notice: Connected", at + 1))
			n++;
		return n;
	};
	ASSERT_TRUE(pump([&] { return connections() >= 2; }, 40s)) << ap_log();
	EXPECT_EQ(colour(), "255,255,0");
	version();
	ASSERT_TRUE(pump([&] { return colour() == "0,255,0"; }, 15s)) << ap_log() << colour();
}

} // namespace
} // namespace masttest

namespace masttest {
namespace {

size_t count_of(const std::string &text, const std::string &needle)
{
	size_t n = 0;
	for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
		n++;
	return n;
}

// An AP whose JOIN_REQ goes unanswered keeps asking, once a cycle; between
// cycles it stays online for the controller (nothing says offline at a
// retry), and the certificate it cannot send is noted once.
TEST_F(ApTest, AnUnansweredApStaysOnlineAcrossRetries)
{
	wlctest::write_text(ap_path("/data/ssl/mqtt.crt"),
			    wlctest::read_text(pki_.client_cert) + std::string(4096, '#') + "\n");
	wlctest::MqttClient services("services", 1883);
	ASSERT_TRUE(services.subscribe("zev/wlc/control/ap/+/join_request"));
	ASSERT_TRUE(services.subscribe("zev/wlc/control/ap/+/online"));
	start_ap({"-h", "127.0.0.1:8883"});
	std::vector<std::string> online;
	int join_requests = 0;
	wlctest::MqttMessage m;
	ASSERT_TRUE(pump([&] {
		while (services.pending() > 0 && services.next(m, 0ms)) {
			if (m.topic.ends_with("/join_request"))
				join_requests++;
			else
				online.push_back(fields_json(m.payload));
		}
		return join_requests == 2;
	}, 60s)) << ap_log();
	EXPECT_TRUE(ap_logged("mast.notice: DISCOVER: retry"));
	// The second cycle's ONLINE follows its JOIN_REQ; and whatever a retry
	// would have said in between arrived before it.
	ASSERT_TRUE(pump([&] {
		while (services.pending() > 0 && services.next(m, 0ms))
			online.push_back(fields_json(m.payload));
		return online.size() >= 2;
	}, 10s)) << ap_log();
	for (const std::string &o : online)
		EXPECT_NE(o.find("\"online\":true"), std::string::npos) << o;
	EXPECT_EQ(db_calls_with(calls_, "\"online\":false"), "");
	EXPECT_EQ(count_of(ap_log(), "Client certificate missing or longer than 4095 bytes"), 1u) << ap_log();
}

// A certificate that cannot be stored is not reported as saved.
TEST_F(ApTest, ACertificateThatCannotBeWrittenIsNotSaved)
{
	std::filesystem::create_directories(ap_path("/etc/wlc/mqtt_ca.crt.tmp/x"));
	wlctest::MqttClient services("services", 1883);
	ASSERT_TRUE(services.subscribe("zev/wlc/control/ap/+/join_request"));
	start_ap({"-h", "127.0.0.1:8883"});
	answer_join(services);
	ASSERT_TRUE(pump([&] { return ap_logged("mast.warning: Failed to write WLC certificate, retry"); }, 20s))
		<< ap_log();
	EXPECT_FALSE(ap_logged("Save WLC certificate")) << ap_log();
	EXPECT_FALSE(ap_logged("Start adopted agent"));
}

} // namespace
} // namespace masttest
