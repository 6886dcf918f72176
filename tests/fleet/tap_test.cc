// The broker tap's memory and its reading of tapped messages: the bounds
// hold, the newest comes last, and only sound messages are kept.
#include <gtest/gtest.h>

#include <wlc/blob.h>

#include <string>
#include <vector>

#include "harness.h"
#include "tap/tap_messages.h"
#include "tap/tap_store.h"

namespace {

using fleet::LogLine;
using fleet::RrmCommand;
using fleet::TapLimits;
using fleet::TapStore;

std::vector<uint8_t> bytes(const wlc::BlobBuf &b)
{
	const auto *p = reinterpret_cast<const uint8_t *>(b.head());
	return {p, p + blob_raw_len(b.head())};
}

// A log entry as the system log service's stream delivers it.
std::vector<uint8_t> entry(const std::string &msg, uint32_t priority = 30)
{
	wlc::BlobBuf b;
	b.add("msg", msg).add_u32("id", 7).add_u32("priority", priority).add_u32("source", 1).add_u64("time", 1700000000000);
	return bytes(b);
}

std::vector<std::string> texts(const std::vector<LogLine> &lines)
{
	std::vector<std::string> out;
	for (const LogLine &l : lines)
		out.push_back(l.msg);
	return out;
}

TEST(TapStore, KeepsTheLastLinesOfEachApNewestLast)
{
	TapStore store(TapLimits{3, 1 << 20, 50, 1024, 16});
	for (int i = 0; i < 5; i++)
		store.add_line("ap1-00-00-01", LogLine{i, 30, "a" + std::to_string(i)});
	store.add_line("ap1-00-00-02", LogLine{9, 30, "b0"});
	EXPECT_EQ(texts(store.lines("ap1-00-00-01", 100)), (std::vector<std::string>{"a2", "a3", "a4"}));
	EXPECT_EQ(texts(store.lines("ap1-00-00-01", 2)), (std::vector<std::string>{"a3", "a4"}));
	EXPECT_EQ(texts(store.lines("ap1-00-00-02", 100)), (std::vector<std::string>{"b0"}));
	EXPECT_TRUE(store.lines("ap1-00-00-03", 100).empty());
}

TEST(TapStore, OverallBoundDropsTheOldestLineOfAnyAp)
{
	TapStore store(TapLimits{100, 1000, 50, 1024, 16});
	std::string text(100, 'x');
	store.add_line("ap1-00-00-01", LogLine{1, 30, "first " + text});
	for (int i = 0; i < 20; i++)
		store.add_line("ap1-00-00-02", LogLine{2 + i, 30, std::to_string(i) + text});
	EXPECT_LE(store.log_bytes(), 1000u);
	EXPECT_TRUE(store.lines("ap1-00-00-01", 100).empty()) << "the oldest line overall goes first";
	std::vector<LogLine> kept = store.lines("ap1-00-00-02", 100);
	ASSERT_FALSE(kept.empty());
	EXPECT_LT(kept.size(), 20u);
	EXPECT_EQ(kept.back().msg, "19" + text);
	// Every line dropped gave its bytes back: with all gone, nothing is counted.
	TapStore small(TapLimits{1, 1000, 50, 1024, 16});
	small.add_line("ap1-00-00-01", LogLine{1, 30, "one"});
	size_t one = small.log_bytes();
	small.add_line("ap1-00-00-01", LogLine{2, 30, "two"});
	EXPECT_EQ(small.log_bytes(), one);
	EXPECT_EQ(texts(small.lines("ap1-00-00-01", 5)), (std::vector<std::string>{"two"}));
}

TEST(TapStore, CutsLongAndUnprintableTexts)
{
	TapStore store(TapLimits{10, 1 << 20, 50, 8, 16});
	store.add_line("ap1-00-00-01", LogLine{1, 30, "line\x1b[31m and more"});
	EXPECT_EQ(texts(store.lines("ap1-00-00-01", 1)), (std::vector<std::string>{"line?[31"}));
}

TEST(TapStore, KeepsTheLastCommandsOfEachSiteRadio)
{
	TapStore store(TapLimits{10, 1 << 20, 3, 1024, 2});
	for (int i = 0; i < 5; i++)
		store.add_command("hq", RrmCommand{i, "ap1-00-00-01", 1, 36 + 4 * i, std::nullopt});
	store.add_command("hq", RrmCommand{9, "all", 0, std::nullopt, 17});
	std::vector<RrmCommand> r1 = store.commands("hq", 1, 50);
	ASSERT_EQ(r1.size(), 3u);
	EXPECT_EQ(r1.front().channel, 44);
	EXPECT_EQ(r1.back().channel, 52);
	EXPECT_EQ(store.commands("hq", 1, 1).front().at, 4);
	ASSERT_EQ(store.commands("hq", 0, 50).size(), 1u);
	EXPECT_EQ(store.commands("hq", 0, 50)[0].power, 17);
	// A third site and radio is beyond the bound of lists.
	store.add_command("lab", RrmCommand{10, "all", 1, 1, std::nullopt});
	EXPECT_TRUE(store.commands("lab", 1, 50).empty());
}

TEST(TapMessages, ReadsLogEntriesAsAnApStreamsThem)
{
	std::vector<uint8_t> e = entry("daemon started", 29);
	fleet::Tapped t = fleet::read_tapped("zev/wlc/telemetry/ap/ap1-00-00-01/log", e.data(), e.size(), 42);
	ASSERT_TRUE(std::holds_alternative<fleet::TappedLine>(t));
	const auto &line = std::get<fleet::TappedLine>(t);
	EXPECT_EQ(line.ap, "ap1-00-00-01");
	EXPECT_EQ(line.line.msg, "daemon started");
	EXPECT_EQ(line.line.priority, 29u);
	EXPECT_EQ(line.line.at, 42);
}

TEST(TapMessages, RefusesWhatDoesNotFit)
{
	auto refused = [](const std::string &topic, const std::vector<uint8_t> &p) {
		return std::holds_alternative<fleet::Refused>(fleet::read_tapped(topic, p.data(), p.size(), 1));
	};
	const std::string topic = "zev/wlc/telemetry/ap/ap1-00-00-01/log";
	std::vector<uint8_t> good = entry("x");
	EXPECT_FALSE(refused(topic, good));
	EXPECT_TRUE(refused(topic, {'h', 'e', 'l', 'l', 'o'}));
	std::vector<uint8_t> cut(good.begin(), good.end() - 4);
	EXPECT_TRUE(refused(topic, cut)) << "a declared length beyond the payload";
	wlc::BlobBuf no_priority;
	no_priority.add("msg", "x");
	EXPECT_TRUE(refused(topic, bytes(no_priority)));
	wlc::BlobBuf wrong_type;
	wrong_type.add("msg", "x").add("priority", "high");
	EXPECT_TRUE(refused(topic, bytes(wrong_type)));
	EXPECT_TRUE(refused("zev/wlc/telemetry/ap/bad id!/log", good));
	EXPECT_TRUE(refused("zev/wlc/telemetry/ap/ap1-00-00-01/response/ubus", good));
	EXPECT_TRUE(refused("", {}));
}

TEST(TapMessages, ReadsCommandsToOneApAndToAll)
{
	wlc::BlobBuf channel;
	blobmsg_add_u32(channel.raw(), "channel", 36);
	std::vector<uint8_t> p = bytes(channel);
	fleet::Tapped one = fleet::read_tapped("zev/wlc/rrm/hq/ap/ap1-00-00-01/1/cmd/config", p.data(), p.size(), 5);
	ASSERT_TRUE(std::holds_alternative<fleet::TappedCommand>(one));
	EXPECT_EQ(std::get<fleet::TappedCommand>(one).site, "hq");
	EXPECT_EQ(std::get<fleet::TappedCommand>(one).command.ap, "ap1-00-00-01");
	EXPECT_EQ(std::get<fleet::TappedCommand>(one).command.radio, 1);
	EXPECT_EQ(std::get<fleet::TappedCommand>(one).command.channel, 36);
	EXPECT_FALSE(std::get<fleet::TappedCommand>(one).command.power);

	wlc::BlobBuf power;
	blobmsg_add_u32(power.raw(), "power", static_cast<uint32_t>(-3));
	p = bytes(power);
	fleet::Tapped all = fleet::read_tapped("zev/wlc/rrm/hq/ap/all/0/cmd/config", p.data(), p.size(), 6);
	ASSERT_TRUE(std::holds_alternative<fleet::TappedCommand>(all));
	EXPECT_EQ(std::get<fleet::TappedCommand>(all).command.ap, "all");
	EXPECT_EQ(std::get<fleet::TappedCommand>(all).command.power, -3);

	for (const char *bad : {"zev/wlc/rrm/hq/ap/all/256/cmd/config", "zev/wlc/rrm/hq/ap/all/x/cmd/config",
				"zev/wlc/rrm/hq/ap/all/-1/cmd/config", "zev/wlc/rrm/h q/ap/all/1/cmd/config",
				"zev/wlc/rrm/hq/ap/all/1/cmd/agressive"})
		EXPECT_TRUE(std::holds_alternative<fleet::Refused>(fleet::read_tapped(bad, p.data(), p.size(), 7))) << bad;
	wlc::BlobBuf neither;
	neither.add("enable", "1");
	p = bytes(neither);
	EXPECT_TRUE(std::holds_alternative<fleet::Refused>(
		fleet::read_tapped("zev/wlc/rrm/hq/ap/all/1/cmd/config", p.data(), p.size(), 8)));
}

// The fuzz target's seeds are what the tap keeps (its first byte picks the
// topic: an AP's log, a command to that AP, to all): mutations of them reach
// past the refusals.
TEST(TapMessages, FuzzSeedsAreMessagesTheTapKeeps)
{
	const std::string dir = std::string(WLC_TEST_DATA) + "/fuzz/fleet_tap/";
	auto read = [&](const char *name) {
		std::string raw = wlctest::read_text(dir + name);
		std::vector<uint8_t> payload(raw.begin() + 1, raw.end());
		const char *topic = raw[0] == 0 ? "zev/wlc/telemetry/ap/ap1-a3-b4-c5/log"
				    : raw[0] == 1 ? "zev/wlc/rrm/site1/ap/ap1-a3-b4-c5/0/cmd/config"
						  : "zev/wlc/rrm/site1/ap/all/0/cmd/config";
		return fleet::read_tapped(topic, payload.data(), payload.size(), 1);
	};
	fleet::Tapped log = read("seed-01-log-entry.bin");
	ASSERT_TRUE(std::holds_alternative<fleet::TappedLine>(log));
	EXPECT_EQ(std::get<fleet::TappedLine>(log).line.msg, "hostapd: wlan0: STA associated");
	EXPECT_EQ(std::get<fleet::TappedLine>(log).line.priority, 30u);
	fleet::Tapped channel = read("seed-02-channel-command.bin");
	ASSERT_TRUE(std::holds_alternative<fleet::TappedCommand>(channel));
	EXPECT_EQ(std::get<fleet::TappedCommand>(channel).command.channel, 36);
	fleet::Tapped power = read("seed-03-power-to-all.bin");
	ASSERT_TRUE(std::holds_alternative<fleet::TappedCommand>(power));
	EXPECT_EQ(std::get<fleet::TappedCommand>(power).command.ap, "all");
	EXPECT_EQ(std::get<fleet::TappedCommand>(power).command.power, 14);
	fleet::Tapped both = read("seed-04-both.bin");
	ASSERT_TRUE(std::holds_alternative<fleet::TappedCommand>(both));
	EXPECT_EQ(std::get<fleet::TappedCommand>(both).command.channel, 11);
	EXPECT_EQ(std::get<fleet::TappedCommand>(both).command.power, 17);
}

} // namespace
