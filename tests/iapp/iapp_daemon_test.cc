// iapp as a process on one simulated AP: start-up and shut-down, what it
// publishes through "mqtt.wlc" (a recording stand-in here), and what each
// method does to the driver, including every refused input.
#include <zev/wifi.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <csignal>
#include <sys/wait.h>

#include "iapp_helpers.h"
#include "sim_site.h"

namespace {

using namespace iapptest;
using wlctest::pump;

constexpr const char *kOwnId = "ap1-a3-b4-c5";
constexpr const char *kSta = "aa:bb:cc:00:00:01";
constexpr const char *kRa0 = "02:11:22:a3:c4:c5";  // BSSID of ra0
constexpr const char *kRai0 = "02:11:22:a3:d4:c5"; // BSSID of rai0

class Daemon : public ::testing::Test {
protected:
	void SetUp() override
	{
		site_ = std::make_unique<wlctest::SimSite>(
			root_, std::vector<wlctest::SimDevice>{{"ap1", R"("lan_mac": "00:11:22:a3:b4:c5")"}});
		dev_ = site_->root_of("ap1");
		busd_ = start_bus(dev_);
		uloop_init();
		ASSERT_TRUE(bus_.connect(bus_socket(dev_)));
		bus_.watch();
		bridge_ = std::make_unique<BridgeStandIn>(bus_);
	}
	void TearDown() override
	{
		iapp_.reset();
		bridge_.reset();
		bus_.close();
		uloop_done();
	}

	void start(const std::vector<std::string> &args = {"-s", "hq", "-i", "ra0:1:office", "-i", "rai0:2:office"})
	{
		iapp_ = start_iapp(dev_, args);
		ASSERT_TRUE(pump([&] { return bus_.lookup("iapp") != 0; }, wlctest::kStartLimit)) << iapp_log(dev_);
		// The driver's events reach it from here on.
		ASSERT_TRUE(pump([&] { return site_->command("events ap1") == "ok 1"; }, wlctest::kStartLimit))
			<< iapp_log(dev_);
	}
	bool log_has(const std::string &line, std::chrono::milliseconds limit = 5s)
	{
		return pump([&] { return iapp_log(dev_).find(line) != std::string::npos; }, limit);
	}
	// Lets whatever a join event set off arrive, where nothing can follow it
	// to show it was handled (without a site, iapp announces nothing).
	void settle() { pump([] { return false; }, 300ms); }
	wlc::BlobBuf station(const std::string &from, const std::string &sta = kSta, const std::string &wlan = "office")
	{
		wlc::BlobBuf b;
		b.add("from", from).add("wlan", wlan).add("sta", sta);
		return b;
	}
	wlc::BlobBuf key_msg(const std::string &from, const std::string &bssid, const KeyParts &parts = {},
			     const std::string &sta = kSta)
	{
		wlc::BlobBuf b;
		b.add("from", from).add("wlan", "office").add("sta", sta).add("bssid", bssid);
		add_key(b, parts);
		return b;
	}
	std::string saved() { return site_->command("pmk list ap1"); }

	wlctest::TempRoot root_;
	std::unique_ptr<wlctest::SimSite> site_;
	std::string dev_;
	std::unique_ptr<wlctest::Process> busd_;
	wlc::Bus bus_;
	std::unique_ptr<BridgeStandIn> bridge_;
	std::unique_ptr<wlctest::Process> iapp_;
};

TEST_F(Daemon, StartsLogsOptionsAndStopsWith255)
{
	start({"-s", "hq", "-i", "ra0:1:office", "-i", "ra0", "-i", "ra0:office"});
	EXPECT_TRUE(log_has("iapp.info: Starting IAPP daemon..."));
	std::string log = iapp_log(dev_);
	EXPECT_NE(log.find("iapp.debug: config: site = hq"), std::string::npos);
	EXPECT_NE(log.find("iapp.debug: config: ifname ra0 runs wlan office"), std::string::npos);
	EXPECT_NE(log.find("iapp.debug: Bad option 'i' value: 'ra0'"), std::string::npos);
	EXPECT_NE(log.find("iapp.debug: Bad option 'i' value: 'ra0:office'"), std::string::npos);
	iapp_->kill(SIGTERM);
	int st = iapp_->wait(wlctest::kStartLimit);
	ASSERT_TRUE(WIFEXITED(st));
	EXPECT_EQ(WEXITSTATUS(st), 255);
	EXPECT_TRUE(log_has("iapp.info: Stop IAPP daemon"));
	EXPECT_TRUE(pump([&] { return bus_.lookup("iapp") == 0; }, 5s));
}

TEST_F(Daemon, StartUpFailures)
{
	auto bad = start_iapp(dev_, {"-x"});
	int st = bad->wait(10s);
	ASSERT_TRUE(WIFEXITED(st));
	EXPECT_EQ(WEXITSTATUS(st), 255);
	std::string log = iapp_log(dev_);
	EXPECT_NE(log.find("iapp.err: Unexpected option 'x'"), std::string::npos) << log;
	EXPECT_NE(log.find("iapp.err: Failed to parse options"), std::string::npos);
	EXPECT_NE(log.find("iapp.info: Stop IAPP daemon"), std::string::npos);

	busd_.reset(); // no bus
	auto alone = start_iapp(dev_, {});
	st = alone->wait(10s);
	ASSERT_TRUE(WIFEXITED(st));
	EXPECT_EQ(WEXITSTATUS(st), 255);
	EXPECT_NE(iapp_log(dev_).find("iapp.err: Failed to connect to ubus"), std::string::npos);
}

// An "iapp" object already on the bus, and a device whose driver events
// cannot be had: each is logged and iapp leaves with 255, its object gone.
TEST_F(Daemon, ObjectAndDriverEventFailuresEndTheDaemon)
{
	{
		wlc::BusObject taken("iapp", {});
		ASSERT_EQ(taken.add(bus_), UBUS_STATUS_OK);
		auto second = start_iapp(dev_, {});
		int st = second->wait(10s);
		ASSERT_TRUE(WIFEXITED(st));
		EXPECT_EQ(WEXITSTATUS(st), 255);
		std::string log = iapp_log(dev_);
		EXPECT_NE(log.find("iapp.err: Failed to init ubus methods"), std::string::npos) << log;
		EXPECT_NE(log.find("iapp.info: Stop IAPP daemon"), std::string::npos) << log;
	}
	// A device with a bus but no Wi-Fi driver to report events.
	wlctest::TempRoot bare;
	auto bare_bus = start_bus(bare.path());
	auto alone = start_iapp(bare.path(), {"-s", "hq"});
	int st = alone->wait(10s);
	ASSERT_TRUE(WIFEXITED(st));
	EXPECT_EQ(WEXITSTATUS(st), 255);
	std::string log = iapp_log(bare.path());
	EXPECT_NE(log.find("iapp.err: Failed to subscribe for wifi events"), std::string::npos) << log;
	EXPECT_NE(log.find("iapp.info: Stop IAPP daemon"), std::string::npos) << log;
	wlc::Bus other;
	ASSERT_TRUE(other.connect(bus_socket(bare.path())));
	EXPECT_EQ(other.lookup("iapp"), 0u);
}

TEST_F(Daemon, JoinEventsAnnounceTheStation)
{
	start({"-s", "hq", "-i", "ra0:1:office"});
	ASSERT_EQ(site_->command(std::string("sta add ap1 ra0 ") + kSta), "ok");
	ASSERT_TRUE(pump([&] { return bridge_->sent.size() == 1; }));
	const Sent &add = bridge_->sent[0];
	EXPECT_EQ(add.path, "zev/wlc/iapp/md/hq/office/sta_add");
	EXPECT_EQ(add.qos, 1);
	EXPECT_EQ(member_names(add.message), (std::vector<std::string>{"from", "sta"}));
	EXPECT_EQ(str_member(add.message, "from"), kOwnId);
	EXPECT_EQ(str_member(add.message, "sta"), kSta);
	ASSERT_EQ(site_->command("sta add ap1 ra0 aa:bb:cc:00:00:02 -50 moved"), "ok");
	ASSERT_TRUE(pump([&] { return bridge_->sent.size() == 2; }));
	EXPECT_EQ(bridge_->sent[1].path, "zev/wlc/iapp/md/hq/office/sta_move");
	EXPECT_EQ(str_member(bridge_->sent[1].message, "sta"), "aa:bb:cc:00:00:02");
	// rai0 is not mapped: nothing. Events are handled in order, so once the
	// next join on ra0 is announced, the one on rai0 was handled too.
	ASSERT_EQ(site_->command("sta add ap1 rai0 aa:bb:cc:00:00:03"), "ok");
	ASSERT_EQ(site_->command("sta add ap1 ra0 aa:bb:cc:00:00:04"), "ok");
	ASSERT_TRUE(pump([&] { return bridge_->sent.size() >= 3; }));
	ASSERT_EQ(bridge_->sent.size(), 3u);
	EXPECT_EQ(str_member(bridge_->sent[2].message, "sta"), "aa:bb:cc:00:00:04");
}

TEST_F(Daemon, NoSiteNoAnnouncement)
{
	start({"-i", "ra0:1:office"});
	ASSERT_EQ(site_->command(std::string("sta add ap1 ra0 ") + kSta), "ok");
	settle();
	EXPECT_TRUE(bridge_->sent.empty());
}

TEST_F(Daemon, StaAddAsksTheAnnouncerOncePerInterface)
{
	start();
	EXPECT_EQ(call(bus_, "iapp", "sta_add", station("ap2-00-00-02")), 0);
	ASSERT_TRUE(pump([&] { return bridge_->sent.size() == 2; }));
	for (size_t i = 0; i < 2; i++) {
		const Sent &s = bridge_->sent[i];
		EXPECT_EQ(s.path, "zev/wlc/iapp/ap/ap2-00-00-02/key_get");
		EXPECT_EQ(member_names(s.message), (std::vector<std::string>{"from", "wlan", "sta", "bssid"}));
		EXPECT_EQ(str_member(s.message, "from"), kOwnId);
		EXPECT_EQ(str_member(s.message, "wlan"), "office");
		EXPECT_EQ(str_member(s.message, "sta"), kSta);
	}
	EXPECT_EQ(str_member(bridge_->sent[0].message, "bssid"), kRa0); // ascending interface names
	EXPECT_EQ(str_member(bridge_->sent[1].message, "bssid"), kRai0);
	EXPECT_EQ(call(bus_, "iapp", "sta_add", station("ap2-00-00-02", kSta, "guest")), 0);
	// Calls are handled in order: once the next one's requests are out, the
	// one for guest has been handled, and asked nothing (no interface runs guest).
	EXPECT_EQ(call(bus_, "iapp", "sta_add", station("ap3-00-00-03")), 0);
	ASSERT_TRUE(pump([&] { return bridge_->sent.size() >= 4; }));
	ASSERT_EQ(bridge_->sent.size(), 4u);
	EXPECT_EQ(bridge_->sent[2].path, "zev/wlc/iapp/ap/ap3-00-00-03/key_get");
}

TEST_F(Daemon, StaAddRefusals)
{
	start();
	EXPECT_EQ(call(bus_, "iapp", "sta_add", station(kOwnId)), UBUS_STATUS_INVALID_ARGUMENT);
	for (const char *id : {"ap2/x", "ap2+", "#", ""})
		EXPECT_EQ(call(bus_, "iapp", "sta_add", station(id)), UBUS_STATUS_INVALID_ARGUMENT) << id;
	EXPECT_EQ(call(bus_, "iapp", "sta_add", station("ap2", "not-a-mac")), UBUS_STATUS_INVALID_ARGUMENT);
	wlc::BlobBuf partial;
	partial.add("from", "ap2").add("sta", kSta);
	EXPECT_EQ(call(bus_, "iapp", "sta_add", partial), UBUS_STATUS_INVALID_ARGUMENT);
	// Calls are handled in order: the first requests out are the valid call's.
	EXPECT_EQ(call(bus_, "iapp", "sta_add", station("ap3-00-00-03")), 0);
	ASSERT_TRUE(pump([&] { return !bridge_->sent.empty(); }));
	EXPECT_EQ(bridge_->sent[0].path, "zev/wlc/iapp/ap/ap3-00-00-03/key_get");
	EXPECT_TRUE(log_has("iapp.warning: Refused sta_add: bad AP id 'ap2/x'"));
	EXPECT_TRUE(log_has("iapp.warning: Refused sta_add: bad STA address 'not-a-mac'"));
}

TEST_F(Daemon, StaMoveRemovesTheStation)
{
	start();
	ASSERT_EQ(site_->command(std::string("sta add ap1 ra0 ") + kSta), "ok");
	ASSERT_EQ(site_->command("sta add ap1 ra0 aa:bb:cc:00:00:02"), "ok");
	EXPECT_EQ(call(bus_, "iapp", "sta_move", station(kOwnId)), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call(bus_, "iapp", "sta_move", station("ap2", "00:00:00:00:00:0")), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(site_->command("sta list ap1"), "ok ra0/aa:bb:cc:00:00:01 ra0/aa:bb:cc:00:00:02");
	EXPECT_EQ(call(bus_, "iapp", "sta_move", station("ap2")), 0);
	EXPECT_EQ(site_->command("sta list ap1"), "ok ra0/aa:bb:cc:00:00:02");
	// rai0 does not have the station
	EXPECT_TRUE(log_has("iapp.notice: failed to delete STA aa:bb:cc:00:00:01"));
}

TEST_F(Daemon, KeyGetKeepsTheKeyOfAnEarlierInterface)
{
	start();
	// Associated on ra0 only: rai0, visited after it, fails to derive.
	ASSERT_EQ(site_->command(std::string("sta add ap1 ra0 ") + kSta), "ok");
	ASSERT_TRUE(pump([&] { return bridge_->sent.size() == 1; })); // the join announcement
	wlc::BlobBuf req;
	req.add("from", "ap2-00-00-02").add("wlan", "office").add("sta", kSta).add("bssid", "02:11:22:00:20:02");
	EXPECT_EQ(call(bus_, "iapp", "key_get", req), 0);
	ASSERT_TRUE(pump([&] { return bridge_->sent.size() == 2; }));
	const Sent &s = bridge_->sent[1];
	EXPECT_EQ(s.path, "zev/wlc/iapp/ap/ap2-00-00-02/key_set");
	EXPECT_EQ(member_names(s.message), (std::vector<std::string>{"from", "wlan", "sta", "bssid", "key"}));
	EXPECT_EQ(str_member(s.message, "from"), kOwnId);
	EXPECT_EQ(str_member(s.message, "bssid"), "02:11:22:00:20:02");
	EXPECT_EQ(member_names(s.message, "key"),
		  (std::vector<std::string>{"pmk_r0_id", "pmk_r0_kh_id", "pmk_r1_id", "pmk_r1_key", "cipher", "akm",
					    "lifetime", "reassoc_timeout"}));
	// What ap1's driver derives for this station and target on ra0.
	site_->use("ap1");
	const uint8_t sta[6] = {0xaa, 0xbb, 0xcc, 0, 0, 1}, target[6] = {0x02, 0x11, 0x22, 0x00, 0x20, 0x02};
	zev_wifi_pmk_r1 want;
	ASSERT_EQ(zev_wifi_iface_sta_pmk_derive("ra0", sta, target, &want), 0);
	EXPECT_EQ(data_member(s.message, "pmk_r0_id", "key"), Bytes(want.pmk_r0_id, want.pmk_r0_id + 16));
	EXPECT_EQ(data_member(s.message, "pmk_r0_kh_id", "key"), Bytes(want.pmk_r0_kh_id, want.pmk_r0_kh_id + 8));
	EXPECT_EQ(data_member(s.message, "pmk_r1_id", "key"), Bytes(want.pmk_r1_id, want.pmk_r1_id + 16));
	EXPECT_EQ(data_member(s.message, "pmk_r1_key", "key"), Bytes(want.pmk_r1_key, want.pmk_r1_key + 32));
	EXPECT_EQ(u32_member(s.message, "cipher", "key"), want.cipher);
	EXPECT_EQ(u32_member(s.message, "akm", "key"), want.akm);
	EXPECT_EQ(u32_member(s.message, "lifetime", "key"), 43200u);
	EXPECT_EQ(u32_member(s.message, "reassoc_timeout", "key"), 1000u);
}

TEST_F(Daemon, KeyGetWithoutKeyOrBridge)
{
	start();
	wlc::BlobBuf req;
	req.add("from", "ap2").add("wlan", "office").add("sta", kSta).add("bssid", "02:11:22:00:20:02");
	// not associated anywhere: no key
	EXPECT_EQ(call(bus_, "iapp", "key_get", req), UBUS_STATUS_UNKNOWN_ERROR);
	EXPECT_TRUE(log_has("iapp.notice: failed to derive PMK of STA aa:bb:cc:00:00:01 for BSSID 02:11:22:00:20:02 of ap2"));
	ASSERT_EQ(site_->command(std::string("sta add ap1 ra0 ") + kSta), "ok");
	wlc::BlobBuf bad_from;
	bad_from.add("from", "ap2/#").add("wlan", "office").add("sta", kSta).add("bssid", "02:11:22:00:20:02");
	EXPECT_EQ(call(bus_, "iapp", "key_get", bad_from), UBUS_STATUS_INVALID_ARGUMENT);
	wlc::BlobBuf bad_bssid;
	bad_bssid.add("from", "ap2").add("wlan", "office").add("sta", kSta).add("bssid", "02:11:22:00:20");
	EXPECT_EQ(call(bus_, "iapp", "key_get", bad_bssid), UBUS_STATUS_INVALID_ARGUMENT);
	// Calls are handled in order: the good request now gets the only key.
	EXPECT_EQ(call(bus_, "iapp", "key_get", req), 0);
	auto key_sets = [&] {
		return std::count_if(bridge_->sent.begin(), bridge_->sent.end(),
				     [](const Sent &s) { return s.path.find("key_set") != std::string::npos; });
	};
	ASSERT_TRUE(pump([&] { return key_sets() >= 1; }));
	EXPECT_EQ(key_sets(), 1);
	EXPECT_EQ(bridge_->sent.back().path, "zev/wlc/iapp/ap/ap2/key_set");
	bridge_.reset(); // the broker connection is down
	EXPECT_EQ(call(bus_, "iapp", "key_get", req), UBUS_STATUS_UNKNOWN_ERROR);
}

TEST_F(Daemon, KeySetInstallsOnlyWhatWasAskedFor)
{
	start();
	// Unsolicited: refused, nothing saved.
	EXPECT_EQ(call(bus_, "iapp", "key_set", key_msg("ap2", kRa0)), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_TRUE(log_has("iapp.warning: Refused key_set for STA aa:bb:cc:00:00:01 from ap2: not requested"));
	EXPECT_EQ(call(bus_, "iapp", "sta_add", station("ap2")), 0); // asks ap2 for ra0's and rai0's keys
	// Bad keys do not use up the request.
	EXPECT_EQ(call(bus_, "iapp", "key_set", key_msg("ap2", kRa0, {16, 8, 16, 31})), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call(bus_, "iapp", "key_set", key_msg("ap2", kRa0, {15, 8, 16, 32})), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call(bus_, "iapp", "key_set", key_msg("ap2", kRa0, {16, 8, 1, 32})), UBUS_STATUS_INVALID_ARGUMENT);
	KeyParts dead;
	dead.lifetime = 0;
	EXPECT_EQ(call(bus_, "iapp", "key_set", key_msg("ap2", kRa0, dead)), UBUS_STATUS_INVALID_ARGUMENT);
	KeyParts no_akm;
	no_akm.omit_akm = true;
	EXPECT_EQ(call(bus_, "iapp", "key_set", key_msg("ap2", kRa0, no_akm)), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call(bus_, "iapp", "key_set", key_msg("ap3", kRa0)), UBUS_STATUS_INVALID_ARGUMENT); // not asked of ap3
	EXPECT_EQ(call(bus_, "iapp", "key_set", key_msg("ap2", "zz:11:22:a3:c4:c5")), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call(bus_, "iapp", "key_set", key_msg("ap2", kRa0, {}, "aa:bb:cc:00:00:0")), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(saved(), "ok");
	EXPECT_TRUE(log_has("from ap2: key member of a wrong length"));
	EXPECT_TRUE(log_has("from ap2: key without lifetime"));
	// The asked-for key goes to ra0 only (its BSSID), once.
	EXPECT_EQ(call(bus_, "iapp", "key_set", key_msg("ap2", kRa0)), 0);
	EXPECT_EQ(saved(), "ok ra0/aa:bb:cc:00:00:01");
	std::string rec = site_->command("pmk show ap1 ra0 aa:bb:cc:00:00:01");
	ASSERT_EQ(rec.size(), 3 + 2 * 167u);
	EXPECT_EQ(rec.substr(3 + 2 * 16, 16), "6b6b6b6b6b6b6b6b"); // R0KH-ID "kkkkkkkk"
	EXPECT_EQ(rec.substr(3 + 2 * 64, 2), "08");               // its length
	EXPECT_EQ(rec.substr(3 + 2 * 159, 8), "100e0000");         // lifetime 3600, little-endian
	EXPECT_EQ(call(bus_, "iapp", "key_set", key_msg("ap2", kRa0)), UBUS_STATUS_INVALID_ARGUMENT); // answered already
	// Members longer than their fields give their first bytes.
	EXPECT_EQ(call(bus_, "iapp", "key_set", key_msg("ap2", kRai0, {17, 49, 17, 33})), 0);
	EXPECT_EQ(saved(), "ok ra0/aa:bb:cc:00:00:01 rai0/aa:bb:cc:00:00:01");
	rec = site_->command("pmk show ap1 rai0 aa:bb:cc:00:00:01");
	ASSERT_EQ(rec.size(), 3 + 2 * 167u);
	EXPECT_EQ(rec.substr(3 + 2 * 64, 2), "30"); // an R0KH-ID of 48 bytes
}

} // namespace
