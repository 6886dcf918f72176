// The site broker with its shipped configuration and access lists, tried as
// an attacker holding a valid AP certificate would: no AP reads what is
// addressed to another, speaks for another or sends controller commands;
// without a certificate of the site CA, or the controller's password on its
// loopback listener, no one connects.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "broker.h"
#include "harness.h"
#include "mqtt_client.h"
#include "site_authority.h"

namespace {

using namespace std::chrono_literals;
using wlctest::ClientAuth;
using wlctest::MqttClient;
using wlctest::MqttMessage;

const std::string kA = "ap1-a3-b4-c5", kB = "ap2-a3-b4-d6", kC = "ap3-a3-b4-e7";
constexpr int kLocal = 1883, kAp = 8883;

std::vector<uint8_t> text(const std::string &s)
{
	return {s.begin(), s.end()};
}

class Lockdown : public ::testing::Test {
protected:
	void SetUp() override
	{
		if (geteuid() != 0 || !wlctest::enter_private_netns())
			GTEST_SKIP() << "needs a network namespace of its own (root)";
		root_ = std::make_unique<wlctest::TempRoot>();
		site_ = std::make_unique<wlctest::SiteAuthority>(*root_);
		broker_ = std::make_unique<wlctest::Broker>(
			*root_, wlctest::BrokerOptions{kLocal, kAp, nullptr, false, true, site_.get()});
	}
	std::unique_ptr<MqttClient> ap(const std::string &id)
	{
		return std::make_unique<MqttClient>(id, kAp, site_->ap_auth(id));
	}
	std::unique_ptr<MqttClient> controller(const std::string &name = "wlc")
	{
		return std::make_unique<MqttClient>(name, kLocal, site_->controller_auth());
	}
	// Everything the client received until (and with) the message on marker.
	static std::vector<MqttMessage> until(MqttClient &c, const std::string &marker)
	{
		std::vector<MqttMessage> got;
		MqttMessage m;
		while (c.next(m, 10s)) {
			got.push_back(m);
			if (m.topic == marker)
				return got;
		}
		ADD_FAILURE() << "no message on " << marker;
		return got;
	}
	static std::set<std::string> topics(const std::vector<MqttMessage> &got)
	{
		std::set<std::string> t;
		for (const auto &m : got)
			t.insert(m.topic);
		return t;
	}

	std::unique_ptr<wlctest::TempRoot> root_;
	std::unique_ptr<wlctest::SiteAuthority> site_;
	std::unique_ptr<wlctest::Broker> broker_;
};

// What the controller sends to A reaches A, and none of it reaches B, however
// B subscribes.
TEST_F(Lockdown, AnApReadsOnlyWhatIsAddressedToIt)
{
	auto a = ap(kA), b = ap(kB);
	auto wlc = controller();
	const std::vector<std::string> to_a = {
		"zev/wlc/iapp/ap/" + kA + "/key_set",	     "zev/wlc/iapp/ap/" + kA + "/key_get",
		"zev/wlc/telemetry/ap/" + kA + "/request/ubus", "zev/wlc/config/ap/" + kA + "/config",
		"zev/wlc/control/ap/" + kA + "/reset",	     "zev/wlc/control/ap/" + kA + "/join_response",
		"zev/wlc/rrm/site1/ap/" + kA + "/0/cmd/config"};
	for (const auto &t : to_a) {
		ASSERT_TRUE(a->subscribe(t, 1)) << t;
		ASSERT_TRUE(b->subscribe(t, 1)) << t;
	}
	ASSERT_TRUE(b->subscribe("zev/wlc/#", 1));
	ASSERT_TRUE(b->subscribe("#", 1));
	// Something every AP may read, sent last: B's sign that it has seen all.
	const std::string marker = "zev/wlc/control/ap/all/reboot";
	ASSERT_TRUE(a->subscribe(marker, 1));
	for (const auto &t : to_a)
		ASSERT_TRUE(wlc->publish(t, text("secret"), 1));
	ASSERT_TRUE(wlc->publish(marker, text("{}"), 1));

	std::set<std::string> want(to_a.begin(), to_a.end());
	want.insert(marker);
	EXPECT_EQ(topics(until(*a, marker)), want);
	auto seen = until(*b, marker);
	EXPECT_EQ(topics(seen), std::set<std::string>{marker});
}

// What B publishes under A's identifier never reaches the controller; what
// it publishes under its own does.
TEST_F(Lockdown, AnApCannotSpeakForAnother)
{
	auto wlc = controller();
	ASSERT_TRUE(wlc->subscribe("zev/wlc/#", 1));
	auto b = ap(kB);
	for (const std::string &t : std::vector<std::string>{"zev/wlc/telemetry/ap/" + kA + "/response/ubus", "zev/wlc/telemetry/ap/" + kA + "/log",
				    "zev/wlc/control/ap/" + kA + "/online", "zev/wlc/control/ap/" + kA + "/join_request",
				    "zev/wlc/rrm/site1/ap/" + kA + "/0/report/bss",
				    "zev/wlc/telemetry/ap/" + kA + "/response/reconfig"})
		ASSERT_TRUE(b->publish(t, text("forged"), 1)) << t;
	const std::string own = "zev/wlc/telemetry/ap/" + kB + "/response/ubus";
	const std::string report = "zev/wlc/rrm/site1/ap/" + kB + "/0/report/radio";
	ASSERT_TRUE(b->publish(report, text("mine"), 1));
	ASSERT_TRUE(b->publish(own, text("mine"), 1));
	EXPECT_EQ(topics(until(*wlc, own)), (std::set<std::string>{report, own}));
}

// No AP can send what only the controller sends, to another AP or to all.
TEST_F(Lockdown, OnlyTheControllerSendsCommands)
{
	auto a = ap(kA), b = ap(kB);
	const std::vector<std::string> commands = {
		"zev/wlc/control/ap/" + kA + "/join_response", "zev/wlc/firmware/version",
		"zev/wlc/firmware/1.2.3/zev-ap1",	       "zev/wlc/config/ap/" + kA + "/config",
		"zev/wlc/control/ap/" + kA + "/reset",	       "zev/wlc/control/ap/" + kA + "/reboot",
		"zev/wlc/control/ap/all/reboot",	       "zev/wlc/enforced_auth",
		"zev/wlc/telemetry/ap/" + kA + "/request/ubus", "zev/wlc/rrm/site1/ap/" + kA + "/0/cmd/config",
		"zev/wlc/rrm/site1/ap/all/0/cmd/agressive"};
	for (const auto &t : commands)
		ASSERT_TRUE(a->subscribe(t, 1)) << t;
	// B's own station announcement, which A may read, sent after the rest.
	const std::string marker = "zev/wlc/iapp/md/hq/office/sta_add";
	ASSERT_TRUE(a->subscribe(marker, 1));
	for (const auto &t : commands)
		ASSERT_TRUE(b->publish(t, text("forged"), 1, t == "zev/wlc/firmware/version")) << t;
	ASSERT_TRUE(b->publish(marker, text("sta"), 1));
	EXPECT_EQ(topics(until(*a, marker)), std::set<std::string>{marker});
	// The controller's commands do arrive (and nothing forged was retained).
	auto wlc = controller();
	ASSERT_TRUE(wlc->publish(commands[5], text("{}"), 1));
	EXPECT_EQ(topics(until(*a, commands[5])), std::set<std::string>{commands[5]});
	auto late = ap(kC);
	ASSERT_TRUE(late->subscribe("zev/wlc/firmware/version", 1));
	ASSERT_TRUE(late->subscribe("zev/wlc/control/ap/all/reboot", 1));
	ASSERT_TRUE(wlc->publish("zev/wlc/control/ap/all/reboot", text("{}"), 1));
	EXPECT_EQ(topics(until(*late, "zev/wlc/control/ap/all/reboot")),
		  std::set<std::string>{"zev/wlc/control/ap/all/reboot"});
}

// B asks A for a station's key in C's name: A answers the AP named in the
// request, C, and B, listening everywhere it can, gets nothing.
TEST_F(Lockdown, AKeyRequestInAnothersNameGivesTheRequesterNothing)
{
	auto a = ap(kA), b = ap(kB), c = ap(kC);
	ASSERT_TRUE(a->subscribe("zev/wlc/iapp/ap/" + kA + "/key_get", 1));
	ASSERT_TRUE(c->subscribe("zev/wlc/iapp/ap/" + kC + "/key_set", 1));
	for (const std::string &t : std::vector<std::string>{"zev/wlc/iapp/ap/" + kC + "/key_set", "zev/wlc/iapp/ap/+/key_set", "#"})
		ASSERT_TRUE(b->subscribe(t, 1));
	ASSERT_TRUE(b->subscribe("zev/wlc/iapp/ap/" + kB + "/key_set", 1));
	ASSERT_TRUE(b->publish("zev/wlc/iapp/ap/" + kA + "/key_get", text(kC), 1));
	MqttMessage m;
	ASSERT_TRUE(a->next(m, 10s));
	ASSERT_EQ(std::string(m.payload.begin(), m.payload.end()), kC);
	// A answers the requester the message names, as its roaming daemon does.
	const std::string answer = "zev/wlc/iapp/ap/" + kC + "/key_set";
	ASSERT_TRUE(a->publish(answer, text("pmk-r1"), 1));
	// Then a key that is B's own, so that B has a sign.
	const std::string own = "zev/wlc/iapp/ap/" + kB + "/key_set";
	ASSERT_TRUE(a->publish(own, text("for b"), 1));
	EXPECT_EQ(topics(until(*c, answer)), std::set<std::string>{answer});
	EXPECT_EQ(topics(until(*b, own)), std::set<std::string>{own});
}

// Only a certificate of the site CA opens the APs' listener, and only the
// controller's password the loopback one; no AP can take another's session.
TEST_F(Lockdown, OnlyTheSiteCertificateAndTheControllerPasswordConnect)
{
	EXPECT_EQ(wlctest::try_connect(kA, kAp, site_->ap_auth(kA)), 0);
	EXPECT_NE(wlctest::try_connect(kA, kAp, ClientAuth{site_->ca_cert(), "", "", "", ""}), 0);
	EXPECT_NE(wlctest::try_connect(kA, kAp, ClientAuth{site_->ca_cert(), "", "", "wlc", "site-secret"}), 0);
	wlctest::TempRoot elsewhere;
	wlctest::SiteAuthority other(elsewhere);
	ClientAuth foreign = other.ap_auth(kA);
	foreign.cafile = site_->ca_cert();
	EXPECT_NE(wlctest::try_connect(kA, kAp, foreign), 0);

	EXPECT_EQ(wlctest::try_connect("wlc", kLocal, site_->controller_auth()), 0);
	EXPECT_NE(wlctest::try_connect("wlc", kLocal, ClientAuth{}), 0);
	EXPECT_NE(wlctest::try_connect("wlc", kLocal, ClientAuth{"", "", "", "wlc", "guess"}), 0);
	EXPECT_NE(wlctest::try_connect(kA, kLocal, ClientAuth{"", "", "", kA, ""}), 0);

	// B connecting with A's client id does not end A's session.
	auto a = ap(kA);
	ASSERT_TRUE(a->subscribe("zev/wlc/config/ap/" + kA + "/config", 1));
	EXPECT_EQ(wlctest::try_connect(kA, kAp, site_->ap_auth(kB)), 0);
	auto wlc = controller();
	ASSERT_TRUE(wlc->publish("zev/wlc/config/ap/" + kA + "/config", text("{}"), 1));
	MqttMessage m;
	EXPECT_TRUE(a->next(m, 10s));
}

bool reachable(const std::string &address, int port)
{
	int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in addr = {};
	addr.sin_family = AF_INET;
	addr.sin_port = htons(static_cast<uint16_t>(port));
	inet_pton(AF_INET, address.c_str(), &addr.sin_addr);
	bool ok = connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0;
	close(s);
	return ok;
}

// With the APs' listener on every address, as on the controller, the
// controller's listener still answers on loopback only.
TEST(LockdownListeners, TheControllerListenerIsOnLoopbackOnly)
{
	if (geteuid() != 0 || !wlctest::enter_private_netns())
		GTEST_SKIP() << "needs a network namespace of its own (root)";
	wlctest::TempRoot root;
	wlctest::SiteAuthority site(root);
	ASSERT_EQ(wlctest::run({"/sbin/ip", "address", "add", "10.99.0.1/24", "dev", "lo"}).status, 0);
	wlctest::RunResult conf = wlctest::run(
		{"/bin/sh", wlctest::SiteAuthority::config_writer(), "--ca", site.ca_cert(), "--cert", site.broker_cert(),
		 "--key", site.broker_key(), "--passwd", site.password_file(), "--acl-dir", wlctest::SiteAuthority::acl_dir(),
		 "--log-file", root.at("/broker.log"), "--user", "root"});
	ASSERT_EQ(conf.status, 0) << conf.err;
	wlctest::write_text(root.at("/mosquitto.conf"), conf.out);
	wlctest::Process broker({"/usr/sbin/mosquitto", "-c", root.at("/mosquitto.conf")});
	ASSERT_TRUE(wlctest::wait_until([] { return reachable("10.99.0.1", kAp) && reachable("127.0.0.1", kLocal); },
					wlctest::kStartLimit))
		<< wlctest::read_text(root.at("/broker.log"));
	EXPECT_FALSE(reachable("10.99.0.1", kLocal));
}

// The configuration writer refuses what would leave the broker open.
TEST(LockdownConfig, IncompleteOrWrongSettingsAreRefused)
{
	wlctest::TempRoot root;
	wlctest::SiteAuthority site(root);
	std::vector<std::string> base = {"/bin/sh", wlctest::SiteAuthority::config_writer(), "--ca", site.ca_cert(),
					 "--cert", site.broker_cert(), "--key", site.broker_key(), "--acl-dir",
					 wlctest::SiteAuthority::acl_dir()};
	wlctest::RunResult r = wlctest::run(base);
	EXPECT_EQ(r.status, 2);
	EXPECT_NE(r.err.find("--passwd is required"), std::string::npos) << r.err;
	base.insert(base.end(), {"--passwd", site.password_file()});
	EXPECT_EQ(wlctest::run(base).status, 0);
	for (const std::vector<std::string> &bad : std::vector<std::vector<std::string>>{
		     {"--ap-port", "0"}, {"--local-port", "65536"}, {"--ap-port", "88x"}, {"--ap-port", "1883"},
		     {"--ca", root.at("/missing.crt")}, {"--acl-dir", root.path()}, {"--bogus", "1"}}) {
		std::vector<std::string> argv = base;
		argv.insert(argv.end(), bad.begin(), bad.end());
		EXPECT_EQ(wlctest::run(argv).status, 2) << bad[0] << " " << bad[1];
	}
}

} // namespace
