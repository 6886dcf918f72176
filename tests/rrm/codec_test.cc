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

// The offset of the n-th element of the first member of a table (an array).
size_t element_offset(const blob_attr *head, size_t n)
{
	auto *array = static_cast<blob_attr *>(blob_data(head));
	blob_attr *pos;
	size_t rem;
	size_t i = 0;
	blobmsg_for_each_attr(pos, array, rem) {
		if (i++ == n)
			return static_cast<size_t>(reinterpret_cast<uint8_t *>(pos) - reinterpret_cast<const uint8_t *>(head));
	}
	ADD_FAILURE() << "no element " << n;
	return 0;
}

// An element that claims more bytes than its array holds, or fewer than a
// header: nothing of it or after it is taken. The report is refused whole
// (the message parser finds the array damaged) or, where a parser lets the
// array through, the walk ends before the element; the entries before it
// are then all that is read.
void expect_nothing_from(const std::optional<BssList> &list)
{
	if (!list)
		return;
	ASSERT_LE(list->size(), 1u);
	if (!list->empty()) {
		EXPECT_STREQ((*list)[0].ssid, "one");
	}
}

TEST(RrmCodec, DamagedElementEndsTheWalk)
{
	wlc::BlobBuf b;
	encode_bss(b, {bss("one", {2, 0, 0, 0, 0, 1}, 1, -50), bss("two", {2, 0, 0, 0, 0, 2}, 6, -50),
		       bss("three", {2, 0, 0, 0, 0, 3}, 11, -50)});
	std::vector<uint32_t> words(blob_pad_len(b.head()) / 4);
	std::memcpy(words.data(), b.head(), blob_raw_len(b.head()));
	auto *head = reinterpret_cast<blob_attr *>(words.data());
	ASSERT_EQ(decode_bss(head)->size(), 3u); // undamaged
	auto *second = reinterpret_cast<blob_attr *>(reinterpret_cast<uint8_t *>(head) + element_offset(head, 1));
	unsigned int len = blob_raw_len(second);
	blob_set_raw_len(second, len + 4096); // past the end of the buffer
	expect_nothing_from(decode_bss(head));
	blob_set_raw_len(second, 2); // shorter than its own header
	expect_nothing_from(decode_bss(head));
	blob_set_raw_len(second, len);
	EXPECT_EQ(decode_bss(head)->size(), 3u);
}

// Members of the wrong shape count as absent, and a record that then lacks
// what it needs is refused rather than read as something else.
TEST(RrmCodec, MistypedMembersRefused)
{
	wlc::BlobBuf scan_table; // "scan" a table, not an array
	{
		auto scan = scan_table.table("scan");
		auto t = scan_table.table("x");
		scan_table.add_u16("ch", 1);
		scan_table.add_u16("int", 100);
	}
	EXPECT_FALSE(decode_channels(scan_table.head()));
	EXPECT_FALSE(decode_bss(scan_table.head()));

	wlc::BlobBuf mixed; // a table and a string in one array
	{
		auto scan = mixed.array("scan");
		{
			auto t = mixed.table();
			mixed.add_u16("ch", 1);
			mixed.add_u16("int", 100);
		}
		mixed.add(nullptr, "1");
	}
	EXPECT_FALSE(decode_channels(mixed.head()));
	EXPECT_FALSE(decode_bss(mixed.head()));

	wlc::BlobBuf entries; // "bssid" a number, "ch" 32-bit: both entries skipped
	{
		auto scan = entries.array("scan");
		{
			auto t = entries.table();
			entries.add_u16("ch", 1);
			entries.add_u16("bssid", 2);
		}
		{
			auto t = entries.table();
			entries.add_u32("ch", 1);
			entries.add("bssid", "02:00:00:00:00:01");
		}
	}
	auto list = decode_bss(entries.head());
	ASSERT_TRUE(list);
	EXPECT_TRUE(list->empty());

	wlc::BlobBuf radio; // "ch" 32-bit and "pwr" text: unknown, not misread
	radio.add_u32("ch", 6);
	radio.add("pwr", "20");
	auto r = decode_radio(radio.head());
	ASSERT_TRUE(r);
	EXPECT_EQ(r->channel, 0);
	EXPECT_EQ(r->power, unknown_power);
}

} // namespace
