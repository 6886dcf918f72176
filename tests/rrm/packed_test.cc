// The store's compact reports: what a decoded report becomes and gives back,
// byte for byte, and the interned BSS names they share.
#include <gtest/gtest.h>

#include <cstring>

#include "ctrl/history.h"
#include "ctrl/packed.h"

namespace {

using namespace rrm;

zev_wifi_bss heard(const char *ssid, Mac mac, uint32_t ch, int rssi)
{
	zev_wifi_bss b{};
	std::string_view(ssid).substr(0, 32).copy(b.ssid, 32);
	std::copy(mac.begin(), mac.end(), b.bssid);
	b.channel = ch;
	b.rssi = rssi;
	return b;
}

// A record as the store gets it: encoded by an agent, decoded by the codec.
template <typename T, typename Encode, typename Decode>
T through_codec(const T &sent, Encode encode, Decode decode)
{
	wlc::BlobBuf b;
	encode(b, sent);
	std::optional<T> got = decode(b.head());
	EXPECT_TRUE(got);
	return got.value_or(T{});
}

std::vector<uint8_t> bytes_of(const wlc::BlobBuf &b)
{
	auto *p = reinterpret_cast<const uint8_t *>(b.head());
	return {p, p + blob_raw_len(b.head())};
}

// The codec's encoding of the decoded record against the packed one's, and
// the record unpacked against the decoded one (by its encoding again).
void expect_same_as_codec(const Record &decoded, BssNames &names)
{
	PackedReport *p = PackedReport::pack(decoded, names);
	ASSERT_NE(p, nullptr);
	wlc::BlobBuf want, got, again;
	std::visit(
		[&want](const auto &v) {
			using T = std::decay_t<decltype(v)>;
			if constexpr (std::is_same_v<T, ChannelList>)
				encode_channels(want, v);
			else if constexpr (std::is_same_v<T, BssList>)
				encode_bss(want, v);
			else
				encode_radio(want, v);
		},
		decoded);
	p->encode(got, names);
	EXPECT_EQ(bytes_of(got), bytes_of(want)) << got.json() << "\n" << want.json();
	Record back = p->unpack(names);
	EXPECT_EQ(back.index(), decoded.index());
	std::visit(
		[&again](const auto &v) {
			using T = std::decay_t<decltype(v)>;
			if constexpr (std::is_same_v<T, ChannelList>)
				encode_channels(again, v);
			else if constexpr (std::is_same_v<T, BssList>)
				encode_bss(again, v);
			else
				encode_radio(again, v);
		},
		back);
	EXPECT_EQ(bytes_of(again), bytes_of(want));
	PackedReport::release(p, names);
}

TEST(RrmPacked, ReportsComeBackAsTheCodecDecodedThem)
{
	BssNames names;
	// Extremes of every field the codec reads: 16-bit values, negative and
	// positive signals, absent members, hidden and 32-character SSIDs.
	ChannelList channels = {{1, 65535, 1, 65535, 2, 1, 3, 4, 5}, {9, 100, 165, 0, 0, 0, 0, 0, 0},
				{0, 1, 6, 0, 0, 0, 0, 0, 65535}, {0, 0, 11, 1, 1, 1, 1, 1, 1}};
	expect_same_as_codec(through_codec(channels, encode_channels, decode_channels), names);
	BssList bss = {heard("office", {2, 0, 0, 0, 0, 1}, 1, -85), heard("", {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff}, 65535, 32767),
		       heard("0123456789abcdef0123456789abcdefXYZ", {2, 0, 0, 0, 0, 1}, 36, -1),
		       heard("office", {2, 0, 0, 0, 0, 2}, 11, -50), heard("weak", {2, 0, 0, 0, 0, 3}, 11, -86)};
	bss[0].bw = 20, bss[0].qbss = 1, bss[0].ch_util = 255, bss[0].sta_num = 65535;
	bss[1].bw = 160;
	bss[3].qbss = 1, bss[3].sta_num = 3;
	BssList decoded = through_codec(bss, encode_bss, decode_bss);
	ASSERT_EQ(decoded.size(), 4u); // the weakest is dropped by the codec
	expect_same_as_codec(decoded, names);
	RadioReport radio{255, -127, std::vector<zev_wifi_sta>(3), {{2, 0, 0, 0, 0, 1}, {2, 0, 0, 0, 0, 3}}};
	radio.stations[0] = {{2, 0, 0, 0, 0, 9}, 255, 9, 80, 0, 0, {-90, 0, 0}, 4294967295u, 0, {}, 0, 0, 0, 0, 0};
	radio.stations[1].mac[0] = 2, radio.stations[1].mac[5] = 10;
	radio.stations[2].mac[0] = 2, radio.stations[2].rssi[0] = 32767;
	expect_same_as_codec(through_codec(radio, encode_radio, decode_radio), names);
	expect_same_as_codec(through_codec(RadioReport{0, -126, {}, {}}, encode_radio, decode_radio), names);
	EXPECT_EQ(names.count(), 0u); // every name given back with its report
}

TEST(RrmPacked, NamesSharedAndReleased)
{
	BssNames names;
	const Mac first = {2, 0, 0, 0, 0, 1};
	BssList list = through_codec(
		BssList{heard("a", first, 1, -50), heard("b", first, 1, -50), heard("", {2, 0, 0, 0, 0, 2}, 6, -60)},
		encode_bss, decode_bss);
	ASSERT_EQ(list.size(), 3u);
	{
		History one(16, names), two(16, names);
		for (int i = 0; i < 20; i++) {
			ASSERT_TRUE(one.push(i, list));
			ASSERT_TRUE(two.push(i, list));
		}
		// One BSSID heard with two SSIDs is two names; all 32 reports share them.
		EXPECT_EQ(names.count(), 3u);
		EXPECT_EQ(one.count(), 16u);
		uint32_t a = names.intern(first.data(), "a"); // one more reference to a name held
		EXPECT_EQ(names.bssid_text(a), "02:00:00:00:00:01");
		EXPECT_EQ(names.count(), 3u);
		names.release(a);
		const BssList back = std::get<BssList>(two.record(0));
		ASSERT_EQ(back.size(), 3u);
		EXPECT_STREQ(back[1].ssid, "b");
		EXPECT_EQ(back[2].bssid[5], 2);
		EXPECT_EQ(one.time(0), 19);
		EXPECT_EQ(one.time(15), 4);
		// 16 entries of three 16-byte records each, and a little for each block.
		EXPECT_LT(one.memory(), 16 * (3 * 16 + 64) + 512);
	}
	EXPECT_EQ(names.count(), 0u);
	// Freed numbers are taken again.
	uint32_t id = names.intern(first.data(), "");
	EXPECT_LT(id, 3u);
	names.release(id);
}

} // namespace
