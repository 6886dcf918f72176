// Wi-Fi driver access against the device simulator: interfaces, stations,
// channel, width, power, keys, and scans that come back as the world model says.
#include <zev/devinfo.h>
#include <zev/wifi.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <set>
#include <unistd.h>

#include "harness.h"
#include "sim_site.h"

namespace {

using namespace std::chrono_literals;

class Wifi : public ::testing::Test {
protected:
	void SetUp() override
	{
		site_ = std::make_unique<wlctest::SimSite>(root_, std::vector<wlctest::SimDevice>{
			{"ap1", R"("radios": [{"band": 2, "ifprefix": "ra", "channel": 6, "width": 40, "ssids": ["wlc", "guest"]},
					      {"band": 5, "ifprefix": "rai", "channel": 36, "width": 80}])"},
			{"ap2", R"("lan_mac": "00:11:22:00:00:02", "model": "zev-ap2",
				    "radios": [{"band": 2, "channel": 6}, {"band": 5, "channel": 36, "ssids": ["wlc", "iot"]}])"},
			{"ap3", R"("lan_mac": "00:11:22:00:00:03", "radios": [{"band": 5, "channel": 40}])"}},
			R"({"a": "ap1", "b": "ap2", "rssi": -61}, {"a": "ap1", "b": "ap3", "rssi": -75})");
		site_->use("ap1");
	}

	wlctest::TempRoot root_;
	std::unique_ptr<wlctest::SimSite> site_;
};

struct Seen {
	std::vector<std::string> names;
	std::vector<int> radios, bands, units;
	int stop_at = -1;
	int stop_with = 0;
};

int record_iface(const zev_wifi_iface *i, void *user)
{
	auto *s = static_cast<Seen *>(user);
	s->names.push_back(i->ifname);
	s->radios.push_back(i->radio);
	s->bands.push_back(i->band);
	s->units.push_back(i->unit);
	return static_cast<int>(s->names.size()) == s->stop_at ? s->stop_with : 0;
}

TEST_F(Wifi, InterfacesByRadioThenName)
{
	Seen s;
	ASSERT_EQ(zev_wifi_iface_iter(record_iface, &s), 0);
	ASSERT_EQ(s.names.size(), 3u);
	std::multiset<std::string> radio0(s.names.begin(), s.names.begin() + 2);
	EXPECT_EQ(radio0, (std::multiset<std::string>{"ra0", "ra1"}));
	EXPECT_EQ(s.names[2], "rai0"); // not taken for "ra": 'i' is not a digit
	EXPECT_EQ(s.radios, (std::vector<int>{0, 0, 1}));
	EXPECT_EQ(s.bands, (std::vector<int>{2, 2, 5}));
	EXPECT_EQ(s.units[2], 0);

	Seen stop1;
	stop1.stop_at = 1;
	stop1.stop_with = 1;
	EXPECT_EQ(zev_wifi_iface_iter(record_iface, &stop1), 0);
	EXPECT_EQ(stop1.names.size(), 1u);
	Seen stop2;
	stop2.stop_at = 1;
	stop2.stop_with = 2;
	EXPECT_EQ(zev_wifi_iface_iter(record_iface, &stop2), -1);
}

TEST_F(Wifi, ChannelWidthPowerAndIdentity)
{
	EXPECT_EQ(zev_wifi_iface_channel("ra0"), 6);
	EXPECT_EQ(__radio_freq_hz("rai0"), 36);
	EXPECT_EQ(zev_wifi_iface_chbw("ra0"), 40);
	EXPECT_EQ(zev_wifi_iface_chbw("rai0"), 80);
	EXPECT_EQ(zev_wifi_iface_channel_set("rai0", 44), 0);
	EXPECT_EQ(zev_wifi_iface_channel("rai0"), 44);
	EXPECT_EQ(zev_wifi_iface_channel_ext_set("rai0", 1), 0);
	int dbm = 0;
	EXPECT_EQ(zev_wifi_iface_tx_power_dbm("ra0", &dbm), 0);
	EXPECT_EQ(dbm, 20);
	EXPECT_EQ(zev_wifi_iface_tx_power_dbm_set("ra0", 14), 0);
	EXPECT_EQ(zev_wifi_iface_tx_power_dbm("ra1", &dbm), 0); // same radio
	EXPECT_EQ(dbm, 14);
	uint8_t bssid[6];
	ASSERT_EQ(zev_wifi_iface_bssid("ra1", bssid), 0);
	EXPECT_EQ(bssid[0], 0x02);
	EXPECT_EQ(bssid[5], 0xc5 + 1);
	char ssid[33] = {};
	ASSERT_EQ(zev_wifi_iface_essid("ra1", ssid, sizeof(ssid) - 1), 0);
	EXPECT_STREQ(ssid, "guest");
	uint8_t caps = 0xF8;
	ASSERT_EQ(zev_wifi_iface_ext_cap("ra0", &caps), 0);
	EXPECT_EQ(caps, 0xFF); // bits 3..7 kept, 0..2 from the driver
	EXPECT_LT(zev_wifi_iface_channel("nope0"), 0);
	EXPECT_LT(zev_wifi_iface_chbw("eth0"), 0);
}

TEST_F(Wifi, StationsJoinListAndLeave)
{
	EXPECT_EQ(site_->command("events ap1"), "ok 0");
	int fd = zev_wifi_subscribe();
	ASSERT_GE(fd, 0);
	EXPECT_EQ(site_->command("events ap1"), "ok 1");
	ASSERT_EQ(site_->command("sta add ap1 ra0 aa:bb:cc:dd:ee:01 -48 1"), "ok");
	ASSERT_EQ(site_->command("sta add ap1 ra0 aa:bb:cc:dd:ee:02 -70"), "ok");
	struct Events {
		std::vector<std::string> joins, leaves;
		std::vector<int> moved, rssi;
	} ev;
	zev_wifi_event_cb cb = {};
	cb.user_data = &ev;
	cb.on_sta_join = [](const char *ifname, const zev_wifi_sta_join *j, void *u) {
		auto *e = static_cast<Events *>(u);
		e->joins.push_back(std::string(ifname) + "/" + std::to_string(j->mac[5]));
		e->moved.push_back(j->moved);
		e->rssi.push_back(j->rssi);
	};
	cb.on_sta_leave = [](const char *ifname, const zev_wifi_sta_leave *l, void *u) {
		static_cast<Events *>(u)->leaves.push_back(std::string(ifname) + "/" + std::to_string(l->mac[5]));
	};
	// Processes events until the expected ones are in (the simulator sends
	// them as it answers the script, so they may come a little later).
	auto drain = [&](auto done) {
		pollfd p = {fd, POLLIN, 0};
		auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
		while (!done() && std::chrono::steady_clock::now() < end) {
			if (poll(&p, 1, 100) > 0) {
				ASSERT_EQ(zev_wifi_event_process(fd, &cb), 0);
			}
		}
	};
	drain([&] { return ev.joins.size() >= 2; });
	EXPECT_EQ(ev.joins, (std::vector<std::string>{"ra0/1", "ra0/2"}));
	EXPECT_EQ(ev.moved, (std::vector<int>{1, 0}));
	EXPECT_EQ(ev.rssi, (std::vector<int>{-48, -70}));

	zev_wifi_sta_list *list = zev_wifi_iface_stations("ra0");
	ASSERT_NE(list, nullptr);
	ASSERT_EQ(list->count, 2u);
	EXPECT_EQ(list->sta[0].mac[5], 1);
	EXPECT_EQ(list->sta[0].rssi[0], -48);
	EXPECT_EQ(list->sta[0].phy_mode, ZEV_PHY_HT_MIX);
	EXPECT_EQ(list->sta[0].bw, 40);
	EXPECT_EQ(list->sta[0].caps, ZEV_STA_CAP_11R | ZEV_STA_CAP_11K | ZEV_STA_CAP_11V);
	EXPECT_FLOAT_EQ(zev_wifi_sta_rate(&list->sta[0]), 150.0f);
	EXPECT_EQ(std::string(list->sta[1].hostname), "sta-ee:02");
	std::free(list);

	const uint8_t gone[6] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0x01};
	EXPECT_EQ(zev_wifi_iface_sta_del("ra0", gone), 0);
	EXPECT_LT(zev_wifi_iface_sta_del("ra0", gone), 0);
	drain([&] { return !ev.leaves.empty(); });
	EXPECT_EQ(ev.leaves, (std::vector<std::string>{"ra0/1"}));
	list = zev_wifi_iface_stations("ra0");
	ASSERT_NE(list, nullptr);
	EXPECT_EQ(list->count, 1u);
	std::free(list);
	EXPECT_EQ(zev_wifi_unsubscribe(fd), 0);
	EXPECT_EQ(site_->command("events ap1"), "ok 0");
	EXPECT_EQ(zev_wifi_unsubscribe(-5), -5);
}

TEST_F(Wifi, ScanComesBackAsTheWorldModelSays)
{
	ASSERT_EQ(site_->command("load 36 40 300"), "ok");
	ASSERT_EQ(site_->command("sta add ap2 rai0 aa:bb:cc:00:00:07"), "ok");
	ASSERT_EQ(site_->command("bss add ap1 neighbour 66:55:44:33:22:11 36 -80"), "ok");
	int fd = zev_wifi_subscribe();
	ASSERT_GE(fd, 0);
	zev_wifi_scan_req req = {1, 50, 36};
	ASSERT_EQ(zev_wifi_iface_scan_req("rai0", &req), 0);

	struct Result {
		std::vector<zev_wifi_chan_stats> stats;
		std::vector<zev_wifi_bss> bss;
		std::vector<std::string> ifnames;
	} res;
	zev_wifi_event_cb cb = {};
	cb.user_data = &res;
	cb.on_chan_stats = [](const char *ifname, const zev_wifi_chan_stats *s, void *u) {
		static_cast<Result *>(u)->stats.push_back(*s);
		static_cast<Result *>(u)->ifnames.push_back(ifname);
	};
	cb.on_bss = [](const char *, const zev_wifi_bss_list *l, void *u) {
		ASSERT_EQ(l->count, 1u);
		static_cast<Result *>(u)->bss.push_back(l->bss[0]);
	};
	// The channel's BSSs come first, its statistics end the scan.
	pollfd p = {fd, POLLIN, 0};
	auto end = std::chrono::steady_clock::now() + std::chrono::seconds(20);
	while ((res.bss.size() < 3 || res.stats.empty()) && std::chrono::steady_clock::now() < end) {
		if (poll(&p, 1, 100) > 0)
			zev_wifi_event_process(fd, &cb);
	}
	zev_wifi_unsubscribe(fd);

	ASSERT_EQ(res.stats.size(), 1u);
	EXPECT_EQ(res.ifnames[0], "rai0");
	EXPECT_EQ(res.stats[0].channel, 36u);
	EXPECT_EQ(res.stats[0].interval, 10u);
	EXPECT_EQ(res.stats[0].busy_time, 400u); // 40 % of 1000 per sample
	EXPECT_EQ(res.stats[0].false_cca, 300u);
	EXPECT_EQ(res.stats[0].type, 1u);
	// ap2's two 5 GHz BSSs on 36 at -61 dBm, the foreign one at -80; ap3 is on 40.
	ASSERT_EQ(res.bss.size(), 3u);
	EXPECT_STREQ(res.bss[0].ssid, "wlc");
	EXPECT_EQ(res.bss[0].rssi, -61);
	EXPECT_EQ(res.bss[0].channel, 36u);
	EXPECT_EQ(res.bss[0].qbss, 1);
	EXPECT_EQ(res.bss[0].sta_num, 1u);
	EXPECT_EQ(res.bss[0].ch_util, 40 * 255 / 100 * 100 / 256);
	EXPECT_EQ(res.bss[0].avail_admission_cap, 1000u * 32);
	EXPECT_STREQ(res.bss[1].ssid, "iot");
	EXPECT_STREQ(res.bss[2].ssid, "neighbour");
	EXPECT_EQ(res.bss[2].rssi, -80);
	EXPECT_EQ(res.bss[2].qbss, 0);
	EXPECT_EQ(res.bss[2].sta_num, 0u);
}

// A scan hearing more BSSs than a subscriber's socket holds at once reaches
// every subscriber whole, one that does not read meanwhile included.
TEST_F(Wifi, AScanOfManyBssReachesEverySubscriberWhole)
{
	constexpr int kBss = 600;
	for (int i = 0; i < kBss; i++) {
		char mac[18];
		std::snprintf(mac, sizeof mac, "02:98:00:00:%02x:%02x", i >> 8, i & 0xff);
		ASSERT_EQ(site_->command("bss add ap1 n" + std::to_string(i) + " " + mac + " 40 -70"), "ok");
	}
	int idle = zev_wifi_subscribe(), active = zev_wifi_subscribe();
	ASSERT_GE(idle, 0);
	ASSERT_GE(active, 0);
	zev_wifi_scan_req req = {1, 50, 40};
	ASSERT_EQ(zev_wifi_iface_scan_req("rai0", &req), 0);

	struct Count {
		size_t bss = 0, stats = 0;
	};
	zev_wifi_event_cb cb = {};
	cb.on_chan_stats = [](const char *, const zev_wifi_chan_stats *, void *u) { static_cast<Count *>(u)->stats++; };
	cb.on_bss = [](const char *, const zev_wifi_bss_list *l, void *u) { static_cast<Count *>(u)->bss += l->count; };
	auto read_until_stats = [&](int fd, Count &c) {
		cb.user_data = &c;
		pollfd p = {fd, POLLIN, 0};
		auto end = std::chrono::steady_clock::now() + 30s;
		while (c.stats == 0 && std::chrono::steady_clock::now() < end)
			if (poll(&p, 1, 100) > 0)
				zev_wifi_event_process(fd, &cb);
	};
	// The active subscriber's statistics end the scan; only then is the
	// idle one read.
	Count on_active, on_idle;
	read_until_stats(active, on_active);
	read_until_stats(idle, on_idle);
	zev_wifi_unsubscribe(active);
	zev_wifi_unsubscribe(idle);
	EXPECT_EQ(on_active.stats, 1u);
	EXPECT_EQ(on_active.bss, static_cast<size_t>(kBss) + 1); // ap3 is on 40 too
	EXPECT_EQ(on_idle.stats, 1u);
	EXPECT_EQ(on_idle.bss, static_cast<size_t>(kBss) + 1);
}

TEST_F(Wifi, PmkDeriveAndSave)
{
	const uint8_t sta[6] = {0xaa, 0xbb, 0xcc, 0x00, 0x00, 0x09};
	const uint8_t target[6] = {0x02, 0x11, 0x22, 0x00, 0x20, 0x02};
	zev_wifi_pmk_r1 pmk;
	std::memset(&pmk, 0x77, sizeof(pmk));
	// The driver derives only for a station associated to the interface.
	EXPECT_LT(zev_wifi_iface_sta_pmk_derive("rai0", sta, target, &pmk), 0);
	EXPECT_EQ(pmk.lifetime, 0u);
	ASSERT_EQ(site_->command("sta add ap1 rai0 aa:bb:cc:00:00:09"), "ok");
	EXPECT_LT(zev_wifi_iface_sta_pmk_derive("ra0", sta, target, &pmk), 0); // associated elsewhere
	ASSERT_EQ(zev_wifi_iface_sta_pmk_derive("rai0", sta, target, &pmk), 0);
	EXPECT_EQ(pmk.pmk_r0_kh_id_len, std::string("ap1.r0kh").size());
	EXPECT_EQ(std::string(reinterpret_cast<char *>(pmk.pmk_r0_kh_id), pmk.pmk_r0_kh_id_len), "ap1.r0kh");
	EXPECT_EQ(pmk.cipher, 4);
	EXPECT_EQ(pmk.akm, 4);
	EXPECT_EQ(pmk.lifetime, 43200u);
	zev_wifi_pmk_r1 again;
	ASSERT_EQ(zev_wifi_iface_sta_pmk_derive("rai0", sta, target, &again), 0);
	EXPECT_EQ(0, std::memcmp(pmk.pmk_r1_key, again.pmk_r1_key, 32)); // derivation is deterministic
	EXPECT_EQ(site_->command("pmk list ap1"), "ok");
	EXPECT_EQ(zev_wifi_iface_sta_pmk_save("rai0", sta, &pmk), 0);
	EXPECT_EQ(site_->command("pmk list ap1"), "ok rai0/aa:bb:cc:00:00:09");
	std::string shown = site_->command("pmk show ap1 rai0 aa:bb:cc:00:00:09");
	ASSERT_EQ(shown.size(), 3 + 2 * 167u);
	EXPECT_EQ(shown.substr(3 + 2 * 7, 12), "aabbcc000009");         // station MAC at 7
	EXPECT_EQ(shown.substr(3 + 2 * 16, 16), "6170312e72306b68");    // "ap1.r0kh" at 16
	EXPECT_EQ(shown.substr(3 + 2 * 151, 16), "000fac04000fac04"); // cipher and AKM suites
	EXPECT_EQ(site_->command("pmk show ap1 ra0 aa:bb:cc:00:00:09"), "error: no such record");
	EXPECT_EQ(site_->command("sta list ap1"), "ok rai0/aa:bb:cc:00:00:09");
	EXPECT_EQ(site_->command("sta list ap1 ra0"), "ok");
	zev_wifi_pmk_r1 none;
	std::memset(&none, 0x77, sizeof(none));
	EXPECT_LT(zev_wifi_iface_sta_pmk_derive("eth0", sta, target, &none), 0);
	EXPECT_EQ(none.lifetime, 0u); // zeroed on failure
}

} // namespace
