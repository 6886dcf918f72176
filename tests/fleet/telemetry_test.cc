// Telemetry kept per AP: the last answer of each method, the numbers taken
// from health, radio and wireless-client answers into one sample per
// round, series bounded to their last samples, answers too large not kept.
#include <gtest/gtest.h>

#include <wlc/blob.h>

#include "telemetry/telemetry_store.h"

namespace {

wlc::BlobBuf reply(const std::string &json)
{
	wlc::BlobBuf b;
	EXPECT_TRUE(b.add_json(json)) << json;
	return b;
}

TEST(TelemetryStore, OneSamplePerRoundFromTheThreeAnswers)
{
	fleet::TelemetryStore store(3);
	store.take("ap1", "health", reply(R"({"cpu":[50,12,7],"mem":{"total":1}})").head(), 100);
	store.take("ap1", "radio", reply(R"({"0":{"up":true,"channel":6,"power":20},"1":{"up":false},"x":{"channel":1}})").head(), 100);
	store.take("ap1", "wireless_clients", reply(R"({"clients":[{"bssid":"a"},{"bssid":"b"}]})").head(), 100);
	std::vector<fleet::ApSample> s = store.series("ap1");
	ASSERT_EQ(s.size(), 1u);
	EXPECT_EQ(s[0].at, 100);
	EXPECT_EQ(s[0].cpu, 12);
	EXPECT_EQ(s[0].clients, 2);
	ASSERT_EQ(s[0].radios.size(), 2u);
	EXPECT_EQ(s[0].radios[0].channel, 6);
	EXPECT_EQ(s[0].radios[0].power, 20);
	EXPECT_EQ(s[0].radios[1].channel, -1);
	EXPECT_EQ(store.answer("ap1", "health")->json, R"({"cpu":[50,12,7],"mem":{"total":1}})");
	EXPECT_FALSE(store.answer("ap2", "health"));

	// Answers that lack the numbers leave them unreported.
	store.take("ap1", "health", reply(R"({"cpu":"busy"})").head(), 200);
	EXPECT_EQ(store.series("ap1").back().cpu, -1);
	EXPECT_EQ(store.series("ap1").back().clients, -1);
}

TEST(TelemetryStore, SeriesKeepTheirLastSamplesAndLargeAnswersAreNotKept)
{
	fleet::TelemetryStore store(3);
	for (int64_t at = 1; at <= 5; at++) {
		store.take("ap1", "health", reply(R"({"cpu":[1,)" + std::to_string(at) + "]}").head(), at);
		store.take_cost("hq", 0, 10 * at, at);
	}
	std::vector<fleet::ApSample> s = store.series("ap1");
	ASSERT_EQ(s.size(), 3u);
	EXPECT_EQ(s.front().at, 3);
	EXPECT_EQ(s.back().cpu, 5);
	std::vector<fleet::CostSample> c = store.cost_series("hq", 0);
	ASSERT_EQ(c.size(), 3u);
	EXPECT_EQ(c.front().cost, 30);
	EXPECT_TRUE(store.cost_series("hq", 1).empty());

	std::string big = R"({"clients":[)";
	for (int i = 0; i < 1000; i++)
		big += std::string(i ? "," : "") + R"({"bssid":"00:11:22:33:44:55","mac":"00:11:22:33:44:55"})";
	store.take("ap1", "wireless_clients", reply(big + "]}").head(), 6);
	EXPECT_EQ(store.answer("ap1", "wireless_clients")->json, "{}");
	EXPECT_EQ(store.series("ap1").back().clients, 1000);
	store.forget("ap1");
	EXPECT_TRUE(store.series("ap1").empty());
}

TEST(TelemetryStore, ClientsAreTheNewestCountOfTheAp)
{
	fleet::TelemetryStore store(5);
	EXPECT_FALSE(store.clients("ap1"));
	store.take("ap1", "health", reply(R"({"cpu":[1,2,3]})").head(), 1);
	EXPECT_FALSE(store.clients("ap1"));
	store.take("ap1", "wireless_clients", reply(R"({"clients":[{"mac":"a"},{"mac":"b"}]})").head(), 2);
	store.take("ap1", "wireless_clients", reply(R"({"clients":[{"mac":"a"},{"mac":"b"},{"mac":"c"}]})").head(), 3);
	// A round whose answer lacked the list keeps the count before it.
	store.take("ap1", "health", reply(R"({"cpu":[1,2,3]})").head(), 4);
	EXPECT_EQ(store.clients("ap1"), 3);
	store.take("ap1", "wireless_clients", reply(R"({"clients":[]})").head(), 5);
	EXPECT_EQ(store.clients("ap1"), 0);
	EXPECT_FALSE(store.clients("ap2"));
}

} // namespace
