// Roaming between two simulated APs, each with its own bus, its adopted
// mast (mast -a, connected over TLS to the real broker with the broker's
// certificate pinned, its bridge "mqtt.wlc" and IAPP relays) and iapp.
#include <zev/wifi.h>

#include <gtest/gtest.h>

#include <cstring>
#include <unistd.h>

#include "adopted_ap.h"
#include "broker.h"
#include "iapp_helpers.h"
#include "mqtt_client.h"
#include "sim_site.h"

namespace {

using namespace iapptest;
using wlctest::pump;
using wlctest::wait_until;

constexpr const char *kAp1 = "ap1-a3-b4-c5";
constexpr const char *kAp2 = "ap1-a3-b4-d6";
constexpr const char *kSta = "aa:bb:cc:00:00:01";
const uint8_t kStaMac[6] = {0xaa, 0xbb, 0xcc, 0, 0, 1};

Bytes payload(const wlc::BlobBuf &b)
{
	auto *p = reinterpret_cast<const uint8_t *>(b.head());
	return Bytes(p, p + blob_raw_len(b.head()));
}

// The 167-byte save request the driver must receive for a key, laid out
// here by hand from the driver's layout.
std::string save_request_hex(const uint8_t *sta, const zev_wifi_pmk_r1 &k)
{
	uint8_t b[167] = {};
	std::memcpy(b + 7, sta, 6);
	std::memcpy(b + 16, k.pmk_r0_kh_id, k.pmk_r0_kh_id_len);
	b[64] = k.pmk_r0_kh_id_len;
	std::memcpy(b + 65, k.pmk_r0_id, 16);
	std::memcpy(b + 97, k.pmk_r1_id, 16);
	std::memcpy(b + 113, k.pmk_r1_key, 32);
	const uint8_t oui[3] = {0x00, 0x0f, 0xac};
	std::memcpy(b + 151, oui, 3);
	b[154] = k.cipher;
	std::memcpy(b + 155, oui, 3);
	b[158] = k.akm;
	for (int i = 0; i < 4; i++) {
		b[159 + i] = static_cast<uint8_t>(k.lifetime >> (8 * i));
		b[163 + i] = static_cast<uint8_t>(k.reassoc_timeout >> (8 * i));
	}
	return hex(b, sizeof(b));
}

class Roaming : public ::testing::Test {
protected:
	void SetUp() override
	{
		if (geteuid() != 0 || !wlctest::enter_private_netns())
			GTEST_SKIP() << "needs a network namespace of its own (root)";
		site_ = std::make_unique<wlctest::SimSite>(root_, std::vector<wlctest::SimDevice>{
			{"ap1", R"("lan_mac": "00:11:22:a3:b4:c5")"}, {"ap2", R"("lan_mac": "00:11:22:a3:b4:d6")"}},
			R"({"a": "ap1", "b": "ap2", "rssi": -58})");
		pki_ = wlctest::make_test_pki(root_);
		// The site's own broker: the shipped configuration and access lists.
		site_ca_ = std::make_unique<wlctest::SiteAuthority>(root_);
		wlctest::BrokerOptions opts;
		opts.tls_port = 8883;
		opts.site = site_ca_.get();
		broker_ = std::make_unique<wlctest::Broker>(root_, opts);
		// The controller's services keep the VERSION that adopts both APs.
		masttest::publish_version(site_ca_->controller_auth());
		uloop_init();
		start_ap("ap1", kAp1);
		start_ap("ap2", kAp2);
	}
	void TearDown() override
	{
		if (!site_)
			return;
		procs_.clear();
		buses_.clear();
		aps_.clear();
		uloop_done();
	}

	void start_ap(const std::string &ap, const std::string &id)
	{
		aps_.push_back(std::make_unique<masttest::AdoptedAp>(*site_, ap, pki_, std::vector<std::string>{"-s", "hq", "-w", "office"}));
		aps_.back()->enrol(*site_ca_, id);
		std::string dev = aps_.back()->root();
		aps_.back()->start_mast();
		procs_.push_back(start_iapp(dev, {"-s", "hq", "-i", "ra0:1:office", "-i", "rai0:2:office"}));
		// Adopted, with the IAPP relays subscribed (the last is the key_set topic).
		ASSERT_TRUE(masttest::wait_subscribed(*broker_, id, "zev/wlc/iapp/ap/" + id + "/key_set"))
			<< aps_.back()->mast_log();
		auto bus = std::make_unique<wlc::Bus>();
		ASSERT_TRUE(bus->connect(bus_socket(dev)));
		bus->watch();
		ASSERT_TRUE(pump([&] { return bus->lookup("iapp") && bus->lookup("mqtt.wlc"); }, wlctest::kStartLimit))
			<< iapp_log(dev) << wlctest::read_text(dev + "/mast.log");
		buses_.push_back(std::move(bus));
		// The driver's events reach iapp from here on.
		ASSERT_TRUE(wait_until([&] { return site_->command("events " + ap) == "ok 1"; }, wlctest::kStartLimit));
	}
	bool command_gives(const std::string &cmd, const std::string &answer, std::chrono::milliseconds limit = 10s)
	{
		return wait_until([&] { return site_->command(cmd) == answer; }, limit);
	}
	bool log_has(const std::string &ap, const std::string &line)
	{
		return wait_until([&] { return iapp_log(site_->root_of(ap)).find(line) != std::string::npos; }, 10s);
	}

	wlctest::TempRoot root_;
	std::unique_ptr<wlctest::SimSite> site_;
	wlctest::TestPki pki_;
	std::unique_ptr<wlctest::SiteAuthority> site_ca_;
	std::unique_ptr<wlctest::Broker> broker_;
	std::vector<std::unique_ptr<masttest::AdoptedAp>> aps_;
	std::vector<std::unique_ptr<wlctest::Process>> procs_;
	std::vector<std::unique_ptr<wlc::Bus>> buses_;
};

TEST_F(Roaming, JoinOnAp1PutsTheKeyOnAp2)
{
	ASSERT_EQ(site_->command(std::string("sta add ap1 ra0 ") + kSta), "ok");
	ASSERT_TRUE(command_gives("pmk list ap2", "ok ra0/aa:bb:cc:00:00:01 rai0/aa:bb:cc:00:00:01"))
		<< site_->command("pmk list ap2") << iapp_log(site_->root_of("ap1")) << iapp_log(site_->root_of("ap2"));
	EXPECT_EQ(site_->command("pmk list ap1"), "ok"); // the announcing AP saves nothing
	// Each key is the one ap1's driver derives for the station towards that
	// BSSID of ap2, installed byte for byte.
	site_->use("ap1");
	const std::pair<const char *, std::array<uint8_t, 6>> ap2_bssids[] = {
		{"ra0", {0x02, 0x11, 0x22, 0xa3, 0xc4, 0xd6}}, {"rai0", {0x02, 0x11, 0x22, 0xa3, 0xd4, 0xd6}}};
	for (const auto &[ifname, bssid] : ap2_bssids) {
		zev_wifi_pmk_r1 k;
		ASSERT_EQ(zev_wifi_iface_sta_pmk_derive("ra0", kStaMac, bssid.data(), &k), 0);
		EXPECT_EQ(k.lifetime, 43200u);
		EXPECT_EQ(site_->command(std::string("pmk show ap2 ") + ifname + " " + kSta), "ok " + save_request_hex(kStaMac, k))
			<< ifname;
	}
}

TEST_F(Roaming, MoveRemovesTheStationFromTheOtherAp)
{
	ASSERT_EQ(site_->command(std::string("sta add ap1 ra0 ") + kSta), "ok");
	ASSERT_TRUE(command_gives("pmk list ap2", "ok ra0/aa:bb:cc:00:00:01 rai0/aa:bb:cc:00:00:01"));
	ASSERT_EQ(site_->command(std::string("sta add ap2 rai0 ") + kSta + " -50 moved"), "ok");
	EXPECT_TRUE(command_gives("sta list ap1", "ok")) << site_->command("sta list ap1");
	EXPECT_EQ(site_->command("sta list ap2"), "ok rai0/aa:bb:cc:00:00:01");
	EXPECT_TRUE(log_has("ap1", "iapp.notice: failed to delete STA aa:bb:cc:00:00:01")); // not on rai0
}

TEST_F(Roaming, RefusedInputsChangeNothing)
{
	// Another AP of the site, with a certificate of its own.
	wlctest::MqttClient peer("ap9", 8883, site_ca_->ap_auth("ap9"));
	// The controller sees every key request there is.
	wlctest::MqttClient watcher("watcher", 1883, site_ca_->controller_auth());
	ASSERT_TRUE(watcher.subscribe("zev/wlc/iapp/ap/+/key_get"));
	// A key nobody asked for.
	wlc::BlobBuf planted;
	planted.add("from", kAp1).add("wlan", "office").add("sta", kSta).add("bssid", "02:11:22:a3:c4:d6");
	add_key(planted, {});
	ASSERT_TRUE(peer.publish(std::string("zev/wlc/iapp/ap/") + kAp2 + "/key_set", payload(planted), 1));
	EXPECT_TRUE(log_has("ap2", "Refused key_set for STA aa:bb:cc:00:00:01 from ap1-a3-b4-c5: not requested"));
	// An announcer whose id would change the reply's topic.
	wlc::BlobBuf wild;
	wild.add("from", "x/#").add("sta", kSta);
	ASSERT_TRUE(peer.publish("zev/wlc/iapp/md/hq/office/sta_add", payload(wild), 1));
	EXPECT_TRUE(log_has("ap2", "Refused sta_add: bad AP id 'x/#'"));
	EXPECT_TRUE(log_has("ap1", "Refused sta_add: bad AP id 'x/#'"));
	// A station address that does not parse.
	wlc::BlobBuf bad_sta;
	bad_sta.add("from", "ap9").add("sta", "aa:bb:cc:00:00");
	ASSERT_TRUE(peer.publish("zev/wlc/iapp/md/hq/office/sta_move", payload(bad_sta), 1));
	EXPECT_TRUE(log_has("ap2", "Refused sta_move: bad STA address 'aa:bb:cc:00:00'"));
	EXPECT_EQ(site_->command("pmk list ap2"), "ok");
	wlctest::MqttMessage m;
	EXPECT_FALSE(watcher.next(m, 300ms)) << m.topic;
}

TEST_F(Roaming, PayloadCannotOverrideTheTopicsWlan)
{
	wlctest::MqttClient peer("ap9", 8883, site_ca_->ap_auth("ap9"));
	ASSERT_TRUE(peer.subscribe("zev/wlc/iapp/ap/ap9/key_get"));
	wlc::BlobBuf msg;
	msg.add("from", "ap9").add("wlan", "guest").add("sta", kSta);
	ASSERT_TRUE(peer.publish("zev/wlc/iapp/md/hq/office/sta_add", payload(msg), 1));
	// Both APs run office on ra0 and rai0: four key requests, all for office.
	for (int i = 0; i < 4; i++) {
		wlctest::MqttMessage m;
		ASSERT_TRUE(peer.next(m, 10s)) << i;
		auto attr = str_member(Bytes(m.payload.begin(), m.payload.end()), "wlan");
		EXPECT_EQ(attr, "office");
	}
}

} // namespace
