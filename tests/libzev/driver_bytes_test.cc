// The exact bytes of driver requests and events: requests captured where the
// simulator would answer them, events built by hand, and malformed input.
#include <zev/wifi.h>

#include <gtest/gtest.h>

#include <fsroot/fsroot.h>

#include <atomic>
#include <cstring>
#include <net/if.h>
#include <linux/wireless.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "driver/sim_wire.h"
#include "harness.h"
#include "wifi_internal.h"

namespace {

using Bytes = std::vector<uint8_t>;

struct Captured {
	uint32_t request = 0;
	uint16_t flags = 0;
	uint16_t length = 0;
	std::string ifname;
	Bytes data;
};

// Stands where the simulator's driver socket would be, records one request
// and answers it with a fixed result and reply data.
class CaptureDriver {
public:
	explicit CaptureDriver(const wlctest::TempRoot &root)
	{
		std::string path = root.at(zev::simwire::kDriverSocket);
		listener_ = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
		sockaddr_un addr = {};
		addr.sun_family = AF_UNIX;
		std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
		EXPECT_EQ(bind(listener_, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
		EXPECT_EQ(listen(listener_, 4), 0);
		setenv("WLC_ROOT", root.path().c_str(), 1);
		wlc::reload_fs_root();
	}
	~CaptureDriver()
	{
		close(listener_);
		unsetenv("WLC_ROOT");
		wlc::reload_fs_root();
	}

	// Runs call() while answering one request; returns what was asked.
	template <typename F>
	Captured capture(F call, int result = 0, Bytes reply = {})
	{
		Captured got;
		std::thread t([&] {
			int c = accept(listener_, nullptr, nullptr);
			std::vector<uint8_t> msg(sizeof(zev::simwire::Request) + zev::simwire::kMaxData);
			ssize_t n = recv(c, msg.data(), msg.size(), 0);
			zev::simwire::Request req;
			std::memcpy(&req, msg.data(), sizeof(req));
			iwreq wrq;
			std::memcpy(&wrq, req.ifr, sizeof(wrq));
			got.request = req.request;
			got.flags = wrq.u.data.flags;
			got.length = wrq.u.data.length;
			got.ifname.assign(wrq.ifr_name, strnlen(wrq.ifr_name, IFNAMSIZ));
			got.data.assign(msg.begin() + sizeof(req), msg.begin() + n);
			zev::simwire::Reply r = {};
			r.result = result;
			std::memcpy(r.ifr, req.ifr, sizeof(r.ifr));
			r.data_len = static_cast<uint32_t>(reply.size());
			Bytes out(sizeof(r) + reply.size());
			std::memcpy(out.data(), &r, sizeof(r));
			if (!reply.empty())
				std::memcpy(out.data() + sizeof(r), reply.data(), reply.size());
			send(c, out.data(), out.size(), MSG_NOSIGNAL);
			close(c);
		});
		call();
		t.join();
		return got;
	}

private:
	int listener_ = -1;
};

TEST(DriverBytes, ScanRequest)
{
	wlctest::TempRoot root;
	CaptureDriver drv(root);
	zev_wifi_scan_req req = {2, 1000, 44};
	int ret = 0;
	Captured c = drv.capture([&] { ret = zev_wifi_iface_scan_req("rai0", &req); }, 1);
	EXPECT_EQ(ret, 0);
	EXPECT_EQ(c.request, 0x8BE1u);
	EXPECT_EQ(c.flags, 0x8955);
	EXPECT_EQ(c.length, 158);
	EXPECT_EQ(c.ifname, "rai0");
	Bytes want(158, 0);
	want[0] = 0x22;
	std::memcpy(want.data() + 1, "rai0", 4);
	want[37] = 44;
	want[42] = 0x80; // mode other than 1
	want[47] = 255;  // 1000 ms is sent as 255
	want[53] = 1;
	EXPECT_EQ(c.data, want);
	// Any answer but 1 is a refusal.
	Captured refused = drv.capture([&] { ret = zev_wifi_iface_scan_req("rai0", &req); }, 0);
	EXPECT_EQ(ret, -1);
}

TEST(DriverBytes, PmkRequests)
{
	wlctest::TempRoot root;
	CaptureDriver drv(root);
	const uint8_t sta[6] = {1, 2, 3, 4, 5, 6};
	const uint8_t bssid[6] = {0xa, 0xb, 0xc, 0xd, 0xe, 0xf};
	zev_wifi_pmk_r1 pmk = {};
	// The driver's answer: R0KH-ID of 60 claimed bytes (capped at 48), keys, suites, times.
	Bytes answer(167, 0);
	for (int i = 16; i < 64; i++)
		answer[static_cast<size_t>(i)] = 'k';
	answer[64] = 60;
	for (int i = 0; i < 16; i++) {
		answer[65 + static_cast<size_t>(i)] = 0x10;
		answer[97 + static_cast<size_t>(i)] = 0x20;
	}
	for (int i = 0; i < 32; i++)
		answer[113 + static_cast<size_t>(i)] = static_cast<uint8_t>(i);
	answer[154] = 4;
	answer[158] = 3;
	answer[159] = 0x10;
	answer[160] = 0x0e; // lifetime 3600
	answer[163] = 0xe8;
	answer[164] = 0x03; // 1000
	int ret = -9;
	Captured d = drv.capture([&] { ret = zev_wifi_iface_sta_pmk_derive("ra0", sta, bssid, &pmk); }, 0, answer);
	ASSERT_EQ(ret, 0);
	EXPECT_EQ(d.request, 0x8BEEu);
	EXPECT_EQ(d.flags, 0x0A01);
	Bytes want(167, 0);
	std::memcpy(want.data() + 7, sta, 6);
	std::memcpy(want.data() + 81, bssid, 6);
	EXPECT_EQ(d.data, want);
	EXPECT_EQ(pmk.pmk_r0_kh_id_len, 48);
	EXPECT_EQ(pmk.pmk_r0_id[0], 0x10);
	EXPECT_EQ(pmk.pmk_r1_id[15], 0x20);
	EXPECT_EQ(pmk.pmk_r1_key[31], 31);
	EXPECT_EQ(pmk.cipher, 4);
	EXPECT_EQ(pmk.akm, 3);
	EXPECT_EQ(pmk.lifetime, 3600u);
	EXPECT_EQ(pmk.reassoc_timeout, 1000u);

	Captured s = drv.capture([&] { ret = zev_wifi_iface_sta_pmk_save("ra0", sta, &pmk); });
	EXPECT_EQ(s.flags, 0x0A02);
	Bytes saved = answer;
	std::memcpy(saved.data() + 7, sta, 6);
	saved[64] = 48;
	const uint8_t oui[3] = {0x00, 0x0F, 0xAC};
	std::memcpy(saved.data() + 151, oui, 3);
	std::memcpy(saved.data() + 155, oui, 3);
	EXPECT_EQ(s.data, saved);
}

TEST(DriverBytes, SmallRequests)
{
	wlctest::TempRoot root;
	CaptureDriver drv(root);
	const uint8_t mac[6] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff};
	Captured del = drv.capture([&] { zev_wifi_iface_sta_del("ra0", mac); });
	EXPECT_EQ(del.request, 0x8BE1u);
	EXPECT_EQ(del.flags, 0x8406);
	EXPECT_EQ(del.data, Bytes(mac, mac + 6));
	Captured ext = drv.capture([&] { zev_wifi_iface_channel_ext_set("ra0", 1); });
	EXPECT_EQ(ext.flags, 0);
	EXPECT_EQ(std::string(ext.data.begin(), ext.data.end()), std::string("HT_EXTCHA=1", 12));
	int width = 0;
	Captured bw = drv.capture([&] { width = zev_wifi_iface_chbw("ra0"); }, 0, Bytes{9, 1, 3, 0, 0, 0, 0});
	EXPECT_EQ(bw.flags, 0x8957);
	EXPECT_EQ(bw.length, 7);
	EXPECT_EQ(width, 161);
	Captured st = drv.capture([&] { std::free(zev_wifi_iface_stations("ra0")); });
	EXPECT_EQ(st.request, 0x8BFFu);
	EXPECT_EQ(st.flags, 1);
	EXPECT_EQ(st.length, 60936);
}

TEST(DriverBytes, StationTableParsing)
{
	Bytes table(60936, 0);
	table[0] = 2; // two entries
	uint8_t *e = table.data() + 8;
	std::memcpy(e + 1, "\x11\x22\x33\x44\x55\x66", 6);
	e[12] = static_cast<uint8_t>(-40);
	e[13] = static_cast<uint8_t>(-41);
	e[14] = static_cast<uint8_t>(-90);
	e[16] = 100;
	e[20] = 0x95;
	e[21] = 0x82; // VHT mcs 5, 2 streams, 40 MHz, short GI
	e[40] = 1;
	e[48] = 2;
	e[56] = 3;
	e[64] = 4;
	e[72] = 1;
	e[74] = 1;
	e[76] = 10;
	std::memset(e + 80, 'h', 32); // no terminator from the driver
	auto *list = zev::wifi::parse_station_table(table.data(), table.size());
	ASSERT_NE(list, nullptr);
	ASSERT_EQ(list->count, 2u);
	const zev_wifi_sta &s = list->sta[0];
	EXPECT_EQ(s.mac[5], 0x66);
	EXPECT_EQ(s.rssi[0], -40);
	EXPECT_EQ(s.rssi[2], -90);
	EXPECT_EQ(s.connected_time, 100u);
	EXPECT_EQ(s.phy_mode, ZEV_PHY_VHT);
	EXPECT_EQ(s.nss, 2);
	EXPECT_EQ(s.uplink_bytes, 1u);
	EXPECT_EQ(s.downlink_bytes, 2u);
	EXPECT_EQ(s.uplink_pkts, 3u);
	EXPECT_EQ(s.downlink_pkts, 4u);
	EXPECT_EQ(s.caps, ZEV_STA_CAP_11R | ZEV_STA_CAP_11K);
	EXPECT_EQ(s.ipv4, 10u);
	EXPECT_EQ(std::strlen(s.hostname), 31u);
	std::free(list);

	// A count beyond the table is capped to the entries that fit.
	table[0] = 0xff;
	table[1] = 0xff;
	list = zev::wifi::parse_station_table(table.data(), table.size());
	ASSERT_NE(list, nullptr);
	EXPECT_EQ(list->count, 544u);
	std::free(list);
	list = zev::wifi::parse_station_table(table.data(), 8 + 112 * 3 + 50);
	ASSERT_NE(list, nullptr);
	EXPECT_EQ(list->count, 3u);
	std::free(list);
	EXPECT_EQ(zev::wifi::parse_station_table(table.data(), 7), nullptr);
}

// --- events ---------------------------------------------------------------

void le16(Bytes &b, size_t at, uint16_t v)
{
	b[at] = static_cast<uint8_t>(v);
	b[at + 1] = static_cast<uint8_t>(v >> 8);
}

// One RTM_NEWLINK message for interface 0 (unnamed here) with one IWEVCUSTOM event.
Bytes link_message(uint16_t id, const Bytes &payload, uint16_t msg_type = 16)
{
	size_t ev = 16 + payload.size();
	size_t attr = 4 + ev;
	size_t len = 32 + ((attr + 3) & ~size_t(3));
	Bytes m(len, 0);
	le16(m, 0, static_cast<uint16_t>(len));
	le16(m, 4, msg_type);
	le16(m, 32, static_cast<uint16_t>(attr));
	le16(m, 34, 11);
	le16(m, 36, static_cast<uint16_t>(ev));
	le16(m, 38, 0x8C02);
	le16(m, 44, static_cast<uint16_t>(payload.size()));
	le16(m, 46, id);
	std::memcpy(m.data() + 52, payload.data(), payload.size());
	return m;
}

struct Counts {
	int join = 0, leave = 0, stats = 0, bss = 0;
	zev_wifi_chan_stats last_stats = {};
	zev_wifi_bss last_bss = {};
};

zev_wifi_event_cb counting(Counts &c)
{
	zev_wifi_event_cb cb = {};
	cb.user_data = &c;
	cb.on_sta_join = [](const char *, const zev_wifi_sta_join *, void *u) { static_cast<Counts *>(u)->join++; };
	cb.on_sta_leave = [](const char *, const zev_wifi_sta_leave *, void *u) { static_cast<Counts *>(u)->leave++; };
	cb.on_chan_stats = [](const char *, const zev_wifi_chan_stats *s, void *u) {
		static_cast<Counts *>(u)->stats++;
		static_cast<Counts *>(u)->last_stats = *s;
	};
	cb.on_bss = [](const char *, const zev_wifi_bss_list *l, void *u) {
		static_cast<Counts *>(u)->bss++;
		static_cast<Counts *>(u)->last_bss = l->bss[0];
	};
	return cb;
}

int feed(const Bytes &datagram, const zev_wifi_event_cb &cb)
{
	int sv[2];
	socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, sv);
	send(sv[1], datagram.data(), datagram.size(), 0);
	int ret = zev_wifi_event_process(sv[0], &cb);
	close(sv[0]);
	close(sv[1]);
	return ret;
}

TEST(DriverEvents, DecodesEachKind)
{
	wlctest::TempRoot root; // no driver: names stay empty
	setenv("WLC_ROOT", root.path().c_str(), 1);
	wlc::reload_fs_root();
	Counts c;
	zev_wifi_event_cb cb = counting(c);
	Bytes stats(72, 0);
	stats[37] = 36;
	stats[47] = 1;                 // tx time sum 1
	stats[59] = 0xE8;
	stats[60] = 0x03;              // busy sum 1000
	EXPECT_EQ(feed(link_message(0x0955, stats), cb), 0);
	EXPECT_EQ(c.stats, 1);
	EXPECT_EQ(c.last_stats.interval, 0u); // no samples: all zero
	EXPECT_EQ(c.last_stats.busy_time, 0u);
	EXPECT_EQ(c.last_stats.type, 1u);
	stats[64] = 4;
	feed(link_message(0x0955, stats), cb);
	EXPECT_EQ(c.last_stats.busy_time, 250u);
	EXPECT_EQ(c.last_stats.channel, 36u);

	Bytes bss(92, 0);
	std::memcpy(bss.data() + 37, "net", 3);
	bss[70] = static_cast<uint8_t>(-67);
	bss[77] = 1;
	feed(link_message(0x0A03, bss), cb);
	EXPECT_EQ(c.bss, 1);
	EXPECT_STREQ(c.last_bss.ssid, "net");
	EXPECT_EQ(c.last_bss.rssi, -67);
	EXPECT_EQ(c.last_bss.qbss, 0);
	EXPECT_EQ(c.last_bss.sta_num, 0u);
	bss[84] = 1;
	bss[85] = 128;
	bss[86] = 5;
	bss[88] = 10;
	feed(link_message(0x0A03, bss), cb);
	EXPECT_EQ(c.last_bss.ch_util, 50);
	EXPECT_EQ(c.last_bss.sta_num, 5u);
	EXPECT_EQ(c.last_bss.avail_admission_cap, 320u);

	Bytes sta(96, 0);
	sta[1] = 8;
	feed(link_message(0x0647, sta), cb);
	sta[1] = 9;
	feed(link_message(0x0647, sta), cb);
	sta[1] = 7; // neither join nor leave
	feed(link_message(0x0647, sta), cb);
	EXPECT_EQ(c.join, 1);
	EXPECT_EQ(c.leave, 1);

	// A table without a join handler still gets the other kinds.
	zev_wifi_event_cb partial = cb;
	partial.on_sta_join = nullptr;
	sta[1] = 8;
	feed(link_message(0x0647, sta), partial);
	EXPECT_EQ(c.join, 1);
	unsetenv("WLC_ROOT");
	wlc::reload_fs_root();
}

TEST(DriverEvents, MalformedDatagramsEndTheWalkQuietly)
{
	Counts c;
	zev_wifi_event_cb cb = counting(c);
	Bytes ok = link_message(0x0955, Bytes(72, 0));
	// Another message type, and a link message without the wireless attribute.
	EXPECT_EQ(feed(link_message(0x0955, Bytes(72, 0), 17), cb), 0);
	Bytes plain = ok;
	le16(plain, 34, 3); // IFLA_IFNAME instead
	EXPECT_EQ(feed(plain, cb), 0);
	EXPECT_EQ(c.stats, 0);
	// A trailing half message is left unparsed and reported.
	Bytes two = ok;
	two.insert(two.end(), ok.begin(), ok.begin() + 20);
	EXPECT_EQ(feed(two, cb), 20);
	EXPECT_EQ(c.stats, 1);
	// Every truncation and every corrupted length byte: no callback with
	// garbage, no read outside the datagram (the sanitizer build checks).
	for (size_t n = 0; n < ok.size(); n++) {
		Bytes cut(ok.begin(), ok.begin() + static_cast<long>(n));
		feed(cut, cb);
	}
	for (size_t at : {0u, 32u, 36u, 44u}) {
		for (uint8_t v : {0, 1, 8, 9, 0x7f, 0xff}) {
			Bytes bad = ok;
			bad[at] = v;
			feed(bad, cb);
		}
	}
	EXPECT_LE(c.stats, 1 + 6);
	EXPECT_EQ(c.bss + c.join + c.leave, 0);
}

} // namespace
