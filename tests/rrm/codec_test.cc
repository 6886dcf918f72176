// The report codec: what is written, what decodes, and what survives a round trip.
#include <gtest/gtest.h>

#include <cstring>

#include "common/codec.h"

namespace {

using namespace rrm;

wlc::BlobBuf from_json(const std::string &json)
{
	wlc::BlobBuf b;
	EXPECT_TRUE(b.add_json(json)) << json;
	return b;
}

zev_wifi_bss bss(const char *ssid, Mac mac, int ch, int rssi)
{
	zev_wifi_bss b{};
	std::strncpy(b.ssid, ssid, 32);
	std::copy(mac.begin(), mac.end(), b.bssid);
	b.channel = static_cast<uint32_t>(ch);
	b.rssi = rssi;
	return b;
}

TEST(RrmCodec, ChannelsWrittenOnlyWhenMeasured)
{
	ChannelList list = {{0, 100, 1, 30, 5, 7, 0, 0x10000, 12}, {1, 0, 6, 1, 1, 1, 1, 1, 1}, {7, 100, 11, 0, 0, 0, 0, 0, 0}};
	wlc::BlobBuf b;
	encode_channels(b, list);
	EXPECT_EQ(b.json(), R"({"scan":[{"type":0,"ch":1,"int":100,"busy":30,"rx":7,"tx":5,"fcca":12},{"ch":11,"int":100}]})");
	auto back = decode_channels(b.head());
	ASSERT_TRUE(back);
	ASSERT_EQ(back->size(), 2u);
	EXPECT_EQ((*back)[0].rx_time, 7u);
	EXPECT_EQ((*back)[0].tx_time, 5u);
	EXPECT_EQ((*back)[0].non_wifi_time, 0u);
	EXPECT_EQ((*back)[1].type, 0u); // absent type reads as 0
	EXPECT_EQ((*back)[1].channel, 11u);
}

TEST(RrmCodec, ChannelsDecodeLimits)
{
	EXPECT_FALSE(decode_channels(from_json(R"({"scan":[]})").head()));
	EXPECT_FALSE(decode_channels(from_json(R"({"other":1})").head()));
	EXPECT_FALSE(decode_channels(from_json(R"({"scan":[1,2]})").head()));
	ChannelList forty;
	for (uint32_t i = 1; i <= 40; i++)
		forty.push_back({0, 50, i, 0, 0, 0, 0, 0, 0});
	wlc::BlobBuf b;
	encode_channels(b, forty);
	auto back = decode_channels(b.head());
	ASSERT_TRUE(back);
	EXPECT_EQ(back->size(), 32u);
	EXPECT_EQ(back->back().channel, 32u);
}

TEST(RrmCodec, BssEncoding)
{
	zev_wifi_bss a = bss("net", {0x02, 0x11, 0, 0, 0, 1}, 6, -60);
	a.bw = 20;
	a.qbss = 1;
	a.ch_util = 30;
	a.sta_num = 4;
	zev_wifi_bss zero_first = bss("", {0x00, 0x00, 0x5e, 0, 0, 2}, 11, -70); // a real MAC: kept
	zev_wifi_bss all_zero = bss("x", {}, 11, -70);
	zev_wifi_bss no_channel = bss("y", {2, 2, 2, 2, 2, 2}, 0, -70);
	wlc::BlobBuf b;
	encode_bss(b, {a, zero_first, all_zero, no_channel});
	EXPECT_EQ(b.json(), R"({"scan":[{"ch":6,"ssid":"net","bssid":"02:11:00:00:00:01","rssi":-60,"bw":20,"util":30,"sta":4},)"
			    R"({"ch":11,"bssid":"00:00:5e:00:00:02","rssi":-70}]})");
	auto back = decode_bss(b.head());
	ASSERT_TRUE(back);
	ASSERT_EQ(back->size(), 2u);
	EXPECT_STREQ((*back)[0].ssid, "net");
	EXPECT_EQ((*back)[0].rssi, -60);
	EXPECT_EQ((*back)[1].bssid[2], 0x5e);
}

TEST(RrmCodec, BssDecodeRules)
{
	auto list = decode_bss(from_json(R"({"scan":[
		{"ch":1,"bssid":"02:00:00:00:00:01","rssi":-86},
		{"ch":1,"bssid":"02:00:00:00:00:02","rssi":-85},
		{"ch":1,"bssid":"02:00:00:00:00:03"},
		{"ch":1,"bssid":"not a mac","rssi":-50},
		{"ch":1,"bssid":"00:00:00:00:00:00","rssi":-50},
		{"ch":1,"rssi":-50},
		{"bssid":"02:00:00:00:00:04"},
		{"ch":1,"bssid":"02:00:00:00:00:05","ssid":"0123456789012345678901234567890123456789"}]})")
				 .head());
	// blobmsg_add_json stores small numbers as INT32, which the policy does not take.
	ASSERT_TRUE(list);
	EXPECT_TRUE(list->empty());

	wlc::BlobBuf b;
	{
		auto scan = b.array("scan");
		auto add = [&b](const char *mac, std::optional<int> rssi, const char *ssid = nullptr) {
			auto t = b.table();
			b.add_u16("ch", 1);
			b.add("bssid", mac);
			if (rssi)
				b.add_u16("rssi", static_cast<uint16_t>(*rssi));
			if (ssid)
				b.add("ssid", ssid);
		};
		add("02:00:00:00:00:01", -86);
		add("02:00:00:00:00:02", -85);
		add("02:00:00:00:00:03", std::nullopt);
		add("not a mac", -50);
		add("00:00:00:00:00:00", -50);
		add("02:00:00:00:00:05", -50, "0123456789012345678901234567890123456789");
	}
	list = decode_bss(b.head());
	ASSERT_TRUE(list);
	ASSERT_EQ(list->size(), 3u);
	EXPECT_EQ((*list)[0].rssi, -85);
	EXPECT_EQ((*list)[1].rssi, 0); // no "rssi": 0, kept
	EXPECT_EQ((*list)[1].qbss, 1);
	EXPECT_EQ(std::strlen((*list)[2].ssid), 32u);
	EXPECT_TRUE(decode_bss(from_json(R"({"scan":[]})").head())->empty());
	EXPECT_FALSE(decode_bss(from_json(R"({"scan":"x"})").head()));
}

RadioReport sample_radio()
{
	RadioReport r;
	r.channel = 36;
	r.power = -3;
	zev_wifi_sta s{};
	Mac m = {0x00, 0x1b, 0x44, 0x11, 0x3a, 0xb7};
	std::copy(m.begin(), m.end(), s.mac);
	s.phy_mode = 4;
	s.mcs = 9;
	s.bw = 2;
	s.rssi[0] = -51;
	s.rssi[1] = 0;
	s.rssi[2] = -54;
	s.connected_time = 600;
	r.stations.push_back(s);
	r.bssids = {{0x02, 0, 0, 0, 0, 1}, {0x00, 0x0c, 0x43, 0, 0, 2}};
	return r;
}

TEST(RrmCodec, RadioRoundTrip)
{
	wlc::BlobBuf b;
	encode_radio(b, sample_radio());
	EXPECT_EQ(b.json(), R"({"ch":36,"pwr":-3,"sta":[{"mac":"00:1b:44:11:3a:b7","phy":4,"mcs":9,"bw":2,"rssi":-52,"time":600}],)"
			    R"("bssid":["02:00:00:00:00:01","00:0c:43:00:00:02"]})");
	auto back = decode_radio(b.head());
	ASSERT_TRUE(back);
	EXPECT_EQ(back->channel, 36);
	EXPECT_EQ(back->power, -3); // signed, not 65533
	ASSERT_EQ(back->bssids.size(), 2u);
	EXPECT_EQ(back->bssids[1][1], 0x0c);
	ASSERT_EQ(back->stations.size(), 1u);
	EXPECT_EQ(back->stations[0].rssi[0], -52);
	EXPECT_EQ(back->stations[0].mcs, 9);
	EXPECT_EQ(back->stations[0].connected_time, 600u);
}

TEST(RrmCodec, RadioUnknownsAndLimits)
{
	RadioReport r;
	r.channel = 0;
	r.power = unknown_power;
	wlc::BlobBuf b;
	encode_radio(b, r);
	EXPECT_EQ(b.json(), "{}");
	auto back = decode_radio(b.head());
	ASSERT_TRUE(back);
	EXPECT_EQ(back->channel, 0);
	EXPECT_EQ(back->power, unknown_power);

	wlc::BlobBuf bad;
	bad.add_u16("ch", 0xffff); // a failed channel read is not a channel
	{
		auto l = bad.array("bssid");
		bad.add(nullptr, "zz:zz");
		bad.add(nullptr, "00:00:00:00:00:00");
		for (int i = 0; i < 20; i++)
			bad.add(nullptr, "02:00:00:00:00:" + std::to_string(10 + i));
	}
	back = decode_radio(bad.head());
	ASSERT_TRUE(back);
	EXPECT_EQ(back->channel, 0);
	ASSERT_EQ(back->bssids.size(), max_radio_bssids);
	EXPECT_EQ(back->bssids[0][5], 0x10);

	EXPECT_FALSE(decode_radio(from_json(R"({"bssid":[1]})").head()));
	EXPECT_FALSE(decode_radio(from_json(R"({"sta":["x"]})").head()));
}

TEST(RrmCodec, MacText)
{
	EXPECT_EQ(parse_mac("AA:bb:0c:dd:ee:ff"), (Mac{0xaa, 0xbb, 0x0c, 0xdd, 0xee, 0xff}));
	EXPECT_FALSE(parse_mac("aa:bb:cc:dd:ee"));
	EXPECT_FALSE(parse_mac("aa-bb-cc-dd-ee-ff"));
	EXPECT_FALSE(parse_mac("aa:bb:cc:dd:ee:fg"));
	Mac m = {1, 2, 3, 4, 5, 0xff};
	EXPECT_EQ(mac_text(m.data()), "01:02:03:04:05:ff");
}

} // namespace

namespace {

// Random bytes under a consistent header: the decoders must neither crash
// nor read outside the buffer (run under the sanitizers).
TEST(RrmCodec, GarbageNeverCrashes)
{
	std::srand(11);
	for (int round = 0; round < 3000; round++) {
		size_t words = 2 + static_cast<size_t>(std::rand() % 64);
		std::vector<uint32_t> buf(words);
		for (uint32_t &w : buf)
			w = static_cast<uint32_t>(std::rand()) ^ (static_cast<uint32_t>(std::rand()) << 16);
		auto *head = reinterpret_cast<blob_attr *>(buf.data());
		blob_set_raw_len(head, static_cast<unsigned int>(words * 4));
		head->id_len &= cpu_to_be32(~(BLOB_ATTR_EXTENDED | BLOB_ATTR_ID_MASK)); // a plain list, as a buffer head
		if (auto c = rrm::decode_channels(head)) {
			ASSERT_LE(c->size(), rrm::max_channel_records);
			for (const auto &r : *c)
				ASSERT_TRUE(r.channel && r.interval);
		}
		if (auto b = rrm::decode_bss(head)) {
			for (const auto &e : *b) {
				ASSERT_TRUE(e.channel && !rrm::mac_is_zero(e.bssid) && e.rssi >= rrm::weakest_rssi);
			}
		}
		if (auto r = rrm::decode_radio(head)) {
			ASSERT_LE(r->bssids.size(), rrm::max_radio_bssids);
			ASSERT_GE(r->power, rrm::unknown_power);
			ASSERT_LE(r->channel, 255);
		}
	}
}

} // namespace
