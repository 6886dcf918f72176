// iapp's pieces on their own: options, address text, the key table and the
// record of keys asked for.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "asked.h"
#include "iapp_helpers.h"
#include "key.h"
#include "options.h"
#include "text.h"

namespace {

using iapp::Mac;
using iapptest::Bytes;

std::optional<iapp::Options> parse(std::vector<std::string> args)
{
	args.insert(args.begin(), "iapp");
	std::vector<char *> argv;
	for (auto &a : args)
		argv.push_back(a.data());
	argv.push_back(nullptr);
	return iapp::parse_options(static_cast<int>(args.size()), argv.data());
}

TEST(IappOptions, InterfaceMapTakesFirstAndThirdField)
{
	auto o = parse({"-s", "hq", "-i", "rai0:1:office", "-i", "ra0:x:office", "-i", "ra1::guest:v2"});
	ASSERT_TRUE(o);
	EXPECT_EQ(o->site, "hq");
	std::vector<std::pair<std::string, std::string>> seen(o->wlan_of.begin(), o->wlan_of.end());
	// ascending interface names; the wlan keeps any colon after the second one
	EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::string>>{
				{"ra0", "office"}, {"ra1", "guest:v2"}, {"rai0", "office"}}));
}

TEST(IappOptions, MalformedValuesAreSkipped)
{
	auto o = parse({"-i", "ra0", "-i", "ra0:office", "-i", "ra0:1:", "-i", ":1:office", "-i", "ra0:1:a/b",
			"-i", "ra0:1:a+b", "-i", "ra0:1:a#", "-i", "averyveryverylong0:1:office", "-i", "ra1:1:ok"});
	ASSERT_TRUE(o);
	ASSERT_EQ(o->wlan_of.size(), 1u);
	EXPECT_EQ(o->wlan_of.at("ra1"), "ok");
	// 15 characters is the longest name the driver takes
	auto fifteen = parse({"-i", "abcdefghijklmno:1:w"});
	ASSERT_TRUE(fifteen);
	EXPECT_EQ(fifteen->wlan_of.count("abcdefghijklmno"), 1u);
}

TEST(IappOptions, SiteThatWouldChangeTopicsIsSkipped)
{
	for (const char *bad : {"a/b", "+", "hq#", ""}) {
		auto o = parse({"-s", bad});
		ASSERT_TRUE(o);
		EXPECT_FALSE(o->site) << bad;
	}
}

TEST(IappOptions, UnknownOptionFails)
{
	EXPECT_FALSE(parse({"-x"}));
	EXPECT_FALSE(parse({"-s"})); // missing value
}

TEST(IappText, MacParsesOnlySixHexPairs)
{
	auto m = iapp::parse_mac("AA:bb:0c:DD:ee:f1");
	ASSERT_TRUE(m);
	EXPECT_EQ(*m, (Mac{0xaa, 0xbb, 0x0c, 0xdd, 0xee, 0xf1}));
	EXPECT_EQ(iapp::mac_text(*m), "aa:bb:0c:dd:ee:f1");
	for (const char *bad : {"", "aa:bb:cc:dd:ee", "aa:bb:cc:dd:ee:f", "aa:bb:cc:dd:ee:fff", "aa-bb-cc-dd-ee-ff",
				"aa:bb:cc:dd:ee:gg", "aabb:cc:dd:ee:ff:", " a:bb:cc:dd:ee:ff"})
		EXPECT_FALSE(iapp::parse_mac(bad)) << bad;
}

TEST(IappText, TopicLevels)
{
	EXPECT_TRUE(iapp::topic_level_ok("ap1-a3-b4-c5"));
	for (const char *bad : {"", "a/b", "+", "#", "x+y"})
		EXPECT_FALSE(iapp::topic_level_ok(bad)) << bad;
	EXPECT_FALSE(iapp::topic_level_ok(std::string_view("a\0b", 3)));
}

wlc::BlobBuf key_message(const iapptest::KeyParts &parts)
{
	wlc::BlobBuf b;
	iapptest::add_key(b, parts);
	return b;
}

blob_attr *key_of(wlc::BlobBuf &b)
{
	return static_cast<blob_attr *>(blob_data(b.head()));
}

TEST(IappKey, TableRoundTripsTheRecord)
{
	zev_wifi_pmk_r1 in = {};
	for (size_t i = 0; i < 16; i++) {
		in.pmk_r0_id[i] = static_cast<uint8_t>(i);
		in.pmk_r1_id[i] = static_cast<uint8_t>(0x80 + i);
	}
	for (size_t i = 0; i < 32; i++)
		in.pmk_r1_key[i] = static_cast<uint8_t>(0xc0 + i);
	std::memcpy(in.pmk_r0_kh_id, "ap1.r0kh", 8);
	in.pmk_r0_kh_id_len = 8;
	in.cipher = 4;
	in.akm = 3;
	in.lifetime = 43200;
	in.reassoc_timeout = 1000;
	wlc::BlobBuf b;
	iapp::add_key_table(b, in);
	blob_attr *table = key_of(b);
	EXPECT_STREQ(blobmsg_name(table), "key");
	zev_wifi_pmk_r1 out;
	ASSERT_EQ(iapp::read_key_table(table, out), iapp::KeyCheck::ok);
	EXPECT_EQ(std::memcmp(&in, &out, sizeof(in)), 0);
}

TEST(IappKey, LongerMembersGiveTheirFirstBytes)
{
	// Identifiers sent as strings carry a terminating zero: 17 bytes.
	const char r0_id[] = "0123456789abcdef";
	const char r1_id[] = "fedcba9876543210";
	Bytes kh(50), r1_key(40);
	for (size_t i = 0; i < kh.size(); i++)
		kh[i] = static_cast<uint8_t>('A' + i);
	for (size_t i = 0; i < r1_key.size(); i++)
		r1_key[i] = static_cast<uint8_t>(0xc0 + i);
	wlc::BlobBuf b;
	{
		auto key = b.table("key");
		b.add("pmk_r0_id", r0_id);
		blobmsg_add_field(b.raw(), BLOBMSG_TYPE_UNSPEC, "pmk_r0_kh_id", kh.data(), 50);
		b.add("pmk_r1_id", r1_id);
		blobmsg_add_field(b.raw(), BLOBMSG_TYPE_UNSPEC, "pmk_r1_key", r1_key.data(), 40);
		b.add_u32("cipher", 4).add_u32("akm", 3).add_u32("lifetime", 3600).add_u32("reassoc_timeout", 1000);
	}
	zev_wifi_pmk_r1 out;
	ASSERT_EQ(iapp::read_key_table(key_of(b), out), iapp::KeyCheck::ok);
	EXPECT_EQ(std::memcmp(out.pmk_r0_id, r0_id, 16), 0);
	EXPECT_EQ(std::memcmp(out.pmk_r1_id, r1_id, 16), 0);
	EXPECT_EQ(out.pmk_r0_kh_id_len, 48);
	EXPECT_EQ(Bytes(out.pmk_r0_kh_id, out.pmk_r0_kh_id + 48), Bytes(kh.begin(), kh.begin() + 48));
	EXPECT_EQ(Bytes(out.pmk_r1_key, out.pmk_r1_key + 32), Bytes(r1_key.begin(), r1_key.begin() + 32));
	EXPECT_EQ(out.lifetime, 3600u);
	// one byte more of every member is as good
	wlc::BlobBuf longer = key_message({17, 49, 17, 33});
	ASSERT_EQ(iapp::read_key_table(key_of(longer), out), iapp::KeyCheck::ok);
	EXPECT_EQ(out.pmk_r0_kh_id_len, 48);
}

TEST(IappKey, ShortMembersMissingMembersAndNoLifetimeAreRefused)
{
	zev_wifi_pmk_r1 out;
	auto check = [&](iapptest::KeyParts p) {
		wlc::BlobBuf b = key_message(p);
		return iapp::read_key_table(key_of(b), out);
	};
	EXPECT_EQ(check({}), iapp::KeyCheck::ok);
	EXPECT_EQ(check({16, 48, 16, 32}), iapp::KeyCheck::ok); // 48 bytes of R0KH-ID, and none, are fine
	EXPECT_EQ(check({16, 0, 16, 32}), iapp::KeyCheck::ok);
	EXPECT_EQ(check({15, 8, 16, 32}), iapp::KeyCheck::bad_length);
	EXPECT_EQ(check({16, 8, 1, 32}), iapp::KeyCheck::bad_length);
	EXPECT_EQ(check({16, 8, 16, 31}), iapp::KeyCheck::bad_length);
	EXPECT_EQ(out.pmk_r1_key[0], 0); // nothing kept of a refused key
	iapptest::KeyParts no_akm;
	no_akm.omit_akm = true;
	EXPECT_EQ(check(no_akm), iapp::KeyCheck::missing);
	iapptest::KeyParts dead;
	dead.lifetime = 0;
	EXPECT_EQ(check(dead), iapp::KeyCheck::no_lifetime);
	EXPECT_EQ(iapp::read_key_table(nullptr, out), iapp::KeyCheck::missing);
}

TEST(IappKey, WipingLeavesNoKeyBytes)
{
	wlc::BlobBuf b = key_message({});
	iapp::wipe_table(key_of(b));
	auto bytes = iapptest::data_member(
		Bytes(reinterpret_cast<uint8_t *>(b.head()), reinterpret_cast<uint8_t *>(b.head()) + blob_raw_len(b.head())),
		"pmk_r1_key", "key");
	ASSERT_TRUE(bytes);
	EXPECT_EQ(*bytes, Bytes(32, 0));
	wlc::BlobBuf whole = key_message({});
	iapp::wipe(whole);
	auto *raw = static_cast<uint8_t *>(whole.raw()->buf);
	EXPECT_EQ(std::count(raw, raw + whole.raw()->buflen, 0), whole.raw()->buflen);
}

TEST(IappAsked, KeysAreTakenOnceAndOnlyWithinTheWindow)
{
	iapp::AskedKeys asked;
	Mac sta{1, 2, 3, 4, 5, 6}, bssid{2, 0, 0, 0, 0, 1}, other{2, 0, 0, 0, 0, 2};
	auto t0 = iapp::AskedKeys::Clock::now();
	asked.remember("ap1", "office", sta, bssid, t0);
	EXPECT_FALSE(asked.take("ap2", "office", sta, bssid, t0));
	EXPECT_FALSE(asked.take("ap1", "guest", sta, bssid, t0));
	EXPECT_FALSE(asked.take("ap1", "office", sta, other, t0));
	EXPECT_TRUE(asked.take("ap1", "office", sta, bssid, t0 + std::chrono::seconds(1)));
	EXPECT_FALSE(asked.take("ap1", "office", sta, bssid, t0 + std::chrono::seconds(1)));
	asked.remember("ap1", "office", sta, bssid, t0);
	EXPECT_FALSE(asked.take("ap1", "office", sta, bssid, t0 + iapp::AskedKeys::kWindow + std::chrono::seconds(1)));
	EXPECT_EQ(asked.size(), 0u);
}

TEST(IappAsked, TableIsBounded)
{
	iapp::AskedKeys asked;
	auto t0 = iapp::AskedKeys::Clock::now();
	Mac bssid{2, 0, 0, 0, 0, 1};
	for (size_t i = 0; i < iapp::AskedKeys::kCapacity + 10; i++) {
		Mac sta{0, 0, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)};
		asked.remember("ap1", "office", sta, bssid, t0);
	}
	EXPECT_EQ(asked.size(), iapp::AskedKeys::kCapacity);
	EXPECT_FALSE(asked.take("ap1", "office", Mac{0, 0, 0, 0, 0, 0}, bssid, t0)); // the oldest went first
	EXPECT_TRUE(asked.take("ap1", "office", Mac{0, 0, 0, 0, 0, 11}, bssid, t0));
}

} // namespace
