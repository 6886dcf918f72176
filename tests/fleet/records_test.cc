// The reader of "db.ap" records: what mast sends is read field by field;
// bytes cut short or changed anywhere are refused or read within the
// limits, never read past their end (the sanitizer build checks that).
#include <gtest/gtest.h>

#include <wlc/blob.h>

#include <cstring>
#include <random>
#include <variant>

#include "common/identifiers.h"
#include "dbap/records.h"
#include "fleetd_fixture.h"

namespace {

std::vector<uint8_t> message_bytes(const std::string &json)
{
	wlc::BlobBuf b;
	EXPECT_TRUE(b.add_json(json)) << json;
	auto *p = reinterpret_cast<const uint8_t *>(b.head());
	return {p, p + blob_pad_len(b.head())};
}

// Reads bytes as a bus message whose outer length says how many there are.
fleet::ApRecordMessage read_bytes(std::vector<uint8_t> bytes)
{
	std::vector<uint32_t> aligned(bytes.size() / 4 + 2);
	std::memcpy(aligned.data(), bytes.data(), bytes.size());
	auto *attr = reinterpret_cast<blob_attr *>(aligned.data());
	blob_set_raw_len(attr, static_cast<unsigned int>(bytes.size()));
	return fleet::read_ap_record(attr);
}

// Whatever was read holds to the limits the reader promises.
void expect_sound(const fleet::ApRecordMessage &m)
{
	if (const auto *j = std::get_if<fleet::JoinInfo>(&m)) {
		EXPECT_TRUE(fleet::is_device_id(j->id)) << j->id;
		EXPECT_LE(j->cert.size(), 4095u);
		EXPECT_LE(j->serial.size(), 31u);
		if (j->mac) {
			EXPECT_TRUE(fleet::is_mac(*j->mac)) << *j->mac;
		}
	} else if (const auto *p = std::get_if<fleet::PresenceInfo>(&m)) {
		EXPECT_TRUE(fleet::is_device_id(p->id)) << p->id;
		if (p->hostname) {
			EXPECT_LE(p->hostname->size(), 64u);
		}
	} else {
		EXPECT_FALSE(std::get<fleet::BadRecord>(m).reason.empty());
	}
}

TEST(ApRecords, JoinAndPresenceAreReadWhole)
{
	auto join = read_bytes(message_bytes(fleettest::join_json("ap1-a3-b4-c5")));
	ASSERT_TRUE(std::holds_alternative<fleet::JoinInfo>(join));
	const auto &j = std::get<fleet::JoinInfo>(join);
	EXPECT_EQ(j.id, "ap1-a3-b4-c5");
	EXPECT_EQ(j.model, "zev-ap1");
	EXPECT_EQ(j.hostname, "ap-one");
	EXPECT_EQ(j.custom_config, R"({"ssid":"office"})");
	auto presence = read_bytes(message_bytes(R"({"id":"ap1-a3-b4-c5","ip":"10.0.0.2/24","online":false})"));
	ASSERT_TRUE(std::holds_alternative<fleet::PresenceInfo>(presence));
	const auto &p = std::get<fleet::PresenceInfo>(presence);
	EXPECT_FALSE(p.online);
	EXPECT_EQ(p.ip, "10.0.0.2/24");
	EXPECT_EQ(p.mac, std::nullopt);
}

TEST(ApRecords, CutOrChangedBytesAreRefusedOrReadWithinLimits)
{
	std::vector<uint8_t> whole = message_bytes(fleettest::join_json("ap1-a3-b4-c5"));
	size_t refused = 0;
	for (size_t len = 4; len < whole.size(); len++) {
		auto m = read_bytes(std::vector<uint8_t>(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(len)));
		expect_sound(m);
		refused += std::holds_alternative<fleet::BadRecord>(m);
	}
	// A join cut anywhere before its last field lacks a required one.
	EXPECT_GT(refused, whole.size() / 2);
	std::mt19937 rng(21);
	for (int round = 0; round < 20000; round++) {
		std::vector<uint8_t> bytes = whole;
		int flips = 1 + static_cast<int>(rng() % 4);
		for (int i = 0; i < flips; i++)
			bytes[4 + rng() % (bytes.size() - 4)] = static_cast<uint8_t>(rng());
		expect_sound(read_bytes(bytes));
		if (HasFailure())
			return;
	}
}

} // namespace
