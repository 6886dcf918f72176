// The report store: histories, files, restarts, hostile ids and bounds.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <fsroot/fsroot.h>
#include <sys/stat.h>

#include "ctrl/store.h"
#include "harness.h"
#include "log_capture.h"

namespace {

namespace fs = std::filesystem;
using namespace rrm;

class StoreTest : public wlctest::InRootTest {
protected:

	ReportStore store(size_t max_aps = default_max_aps)
	{
		return ReportStore("/etc/wlc/rrm/radio1", 16, [this] { return now_; }, max_aps);
	}
	static wlc::BlobBuf radio(int channel, int power = 20, int bssid = 1)
	{
		RadioReport r;
		r.channel = channel;
		r.power = power;
		r.bssids = {{2, 0, 0, 0, 0, static_cast<uint8_t>(bssid)}};
		wlc::BlobBuf b;
		encode_radio(b, r);
		return b;
	}
	// n BSSs; APs given different salts hear different BSSIDs.
	static wlc::BlobBuf bss(size_t n, uint8_t salt = 0)
	{
		BssList list;
		for (size_t i = 0; i < n; i++) {
			zev_wifi_bss e{};
			std::snprintf(e.ssid, sizeof e.ssid, "neighbour-network-%zu", i);
			e.bssid[0] = 2;
			e.bssid[3] = salt;
			e.bssid[4] = static_cast<uint8_t>(i >> 8);
			e.bssid[5] = static_cast<uint8_t>(i);
			e.channel = 1 + i % 11;
			e.rssi = -50 - static_cast<int>(i % 30);
			e.bw = 20;
			e.qbss = 1;
			e.ch_util = 40;
			e.sta_num = 3;
			list.push_back(e);
		}
		wlc::BlobBuf b;
		encode_bss(b, list);
		return b;
	}
	static std::string contents(const std::string &file)
	{
		std::ifstream in(file, std::ios::binary);
		return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
	}
	// The radio channels of an AP's history, oldest first.
	static std::vector<int> channels(const ReportStore &s, const std::string &id)
	{
		std::vector<int> out;
		const ReportStore::ApRecord *ap = s.find(id);
		const History *h = ap ? ap->histories[kind_radio].get() : nullptr;
		for (uint64_t i = h ? h->count() : 0; i-- > 0;)
			out.push_back(std::get<RadioReport>(h->record(i)).channel);
		return out;
	}
	std::string path(const std::string &rel) const { return root_.path() + "/etc/wlc/rrm/radio1/" + rel; }
	int channel_of(const ReportStore &s, const std::string &id) const
	{
		std::optional<Record> r = s.latest(kind_radio, id);
		return r ? std::get<RadioReport>(*r).channel : -1;
	}

	int64_t now_ = 1700000000;
};

TEST_F(StoreTest, HistoryKeepsSixteenNewestFirst)
{
	ReportStore s = store();
	for (int i = 1; i <= 17; i++) {
		now_++;
		ASSERT_EQ(s.add("radio", "ap1", radio(i).head()), 0);
	}
	EXPECT_EQ(s.find("ap1")->histories[kind_radio]->count(), 16u);
	EXPECT_EQ(channel_of(s, "ap1"), 17);
	wlc::BlobBuf list;
	ASSERT_EQ(s.list(list, "radio", std::nullopt, 2, 1 << 20), 0);
	EXPECT_EQ(list.json(), R"({"ap1":{"reports":[{"ts":1700000017,"data":{"ch":17,"pwr":20,"bssid":["02:00:00:00:00:01"]}},)"
			       R"({"ts":1700000016,"data":{"ch":16,"pwr":20,"bssid":["02:00:00:00:00:01"]}}]}})");
	// After a restart the same 16 come back, oldest pushed out.
	ReportStore again = store();
	EXPECT_EQ(again.load(), 1u);
	EXPECT_EQ(again.find("ap1")->histories[kind_radio]->count(), 16u);
	EXPECT_EQ(channel_of(again, "ap1"), 17);
	EXPECT_EQ(std::get<RadioReport>(again.find("ap1")->histories[kind_radio]->record(15)).channel, 2);
}

TEST_F(StoreTest, BadReportsChangeNothing)
{
	ReportStore s = store();
	wlc::BlobBuf empty;
	{
		auto scan = empty.array("scan");
	}
	EXPECT_EQ(s.add("channels", "ap1", empty.head()), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(s.add("weather", "ap1", radio(1).head()), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(s.count_aps(), 0u);
	EXPECT_FALSE(fs::exists(path("ap1")));
}

TEST_F(StoreTest, HostileIdsRefused)
{
	rrmtest::LogCapture log;
	ReportStore s = store();
	for (const char *id : {"", "..", ".hidden", "a/../../b", "../../../../tmp/x", "012345678901234567890123"})
		EXPECT_EQ(s.add("radio", id, radio(1).head()), UBUS_STATUS_INVALID_ARGUMENT) << id;
	EXPECT_EQ(s.add("radio", "01234567890123456789012", radio(1).head()), 0); // 23 characters
	EXPECT_EQ(s.count_aps(), 1u);
	size_t entries = 0;
	for (auto &e : fs::recursive_directory_iterator(root_.path())) {
		std::string p = e.path().string(), store_dir = root_.path() + "/etc/wlc/rrm/radio1";
		EXPECT_TRUE(store_dir.rfind(p, 0) == 0 || p.rfind(store_dir + "/", 0) == 0) << p;
		entries++;
	}
	EXPECT_GT(entries, 0u);
	EXPECT_TRUE(log.has("refused radio report: bad AP id"));
}

TEST_F(StoreTest, ApCountBounded)
{
	rrmtest::LogCapture log;
	ReportStore s = store(3);
	for (const char *id : {"a", "b", "c"}) {
		now_++;
		ASSERT_EQ(s.add("radio", id, radio(1).head()), 0);
	}
	now_++;
	ASSERT_EQ(s.add("radio", "a", radio(6).head()), 0); // a speaks again: b is now the oldest silent
	now_++;
	ASSERT_EQ(s.add("radio", "d", radio(1).head()), 0);
	EXPECT_EQ(s.count_aps(), 3u);
	EXPECT_FALSE(s.find("b"));
	EXPECT_FALSE(fs::exists(path("b")));
	EXPECT_TRUE(s.find("a") && s.find("c") && s.find("d"));
	now_++;
	ASSERT_EQ(s.add("radio", "e", radio(1).head()), 0);
	// The limit is told once, each AP forgotten for it every time.
	EXPECT_EQ(log.count("report store holds its most of 3 APs"), 1u) << log.text();
	EXPECT_TRUE(log.has("too many APs, forget b"));
	EXPECT_TRUE(log.has("too many APs, forget c"));
}

// The AP limit follows the memory budget: a controller of 50,000 APs keeps
// every one of them under the default budget, and the limit of a smaller
// budget is its share of it.
TEST_F(StoreTest, FiftyThousandApsAllKept)
{
	EXPECT_EQ(max_aps_for(64 * min_ap_bytes), 64u);
	EXPECT_EQ(max_aps_for(1), 1u);
	// In memory only (a file where the store's directory would be), so that
	// the test does not wait for 50,000 directories.
	fs::create_directories(path(".."));
	std::ofstream(path("../radio2")) << "not a directory";
	rrmtest::LogCapture log;
	ReportStore s("/etc/wlc/rrm/radio2", 16, [this] { return now_; }, default_max_aps, default_max_store_bytes);
	const size_t aps = 50000;
	for (size_t i = 0; i < aps; i++)
		ASSERT_EQ(s.add("radio", "ap" + std::to_string(i), radio(1 + static_cast<int>(i % 11)).head()), 0) << i;
	EXPECT_EQ(s.count_aps(), aps);
	EXPECT_EQ(channel_of(s, "ap0"), 1);
	EXPECT_EQ(channel_of(s, "ap49999"), 1 + 49999 % 11);
	EXPECT_FALSE(log.has("forget")) << log.text();
	EXPECT_FALSE(log.has("report store holds its most"));
	EXPECT_LE(s.memory(), default_max_store_bytes);
}

// An AP sending what agents typically send (three channels, 30 BSSs heard,
// 10 stations and its two BSSIDs, every cycle) takes at most 16 KiB with
// full histories of each kind.
TEST_F(StoreTest, TypicalApIsSmall)
{
	RadioReport r{6, 20, std::vector<zev_wifi_sta>(10), {{2, 1, 0, 0, 0, 1}, {2, 1, 0, 0, 0, 2}}};
	for (size_t i = 0; i < r.stations.size(); i++)
		r.stations[i].mac[0] = 2, r.stations[i].mac[5] = static_cast<uint8_t>(i + 1);
	wlc::BlobBuf radio_msg, channels_msg;
	encode_radio(radio_msg, r);
	encode_channels(channels_msg, {{0, 100, 1, 30, 1, 1, 1, 1, 1}, {0, 100, 6, 30, 1, 1, 1, 1, 1},
				       {0, 100, 11, 30, 1, 1, 1, 1, 1}});
	wlc::BlobBuf heard = bss(30);
	ReportStore s = store();
	const size_t aps = 100;
	for (size_t i = 0; i < aps; i++)
		for (int k = 0; k < 16; k++) {
			ASSERT_EQ(s.add("channels", "ap" + std::to_string(i), channels_msg.head()), 0);
			ASSERT_EQ(s.add("bss", "ap" + std::to_string(i), heard.head()), 0);
			ASSERT_EQ(s.add("radio", "ap" + std::to_string(i), radio_msg.head()), 0);
		}
	EXPECT_LE(s.memory() / aps, 16u * 1024);
	// What is kept is what was sent.
	wlc::BlobBuf want, got;
	encode_bss(want, *decode_bss(heard.head()));
	encode_record(got, *s.latest(kind_bss, "ap7"));
	EXPECT_EQ(got.json(), want.json());
	EXPECT_EQ(std::get<RadioReport>(*s.latest(kind_radio, "ap99")).stations.size(), 10u);
}

// The store keeps within its byte budget: the APs silent longest are
// forgotten, files and all, and the bytes it counts are what it holds.
TEST_F(StoreTest, ByteBudgetBounded)
{
	// Each AP hears BSSIDs of its own, so that each takes as much as the probe.
	uint8_t salt = 0;
	auto fill = [this, &salt](ReportStore &s, const std::string &id) {
		salt++;
		for (int i = 0; i < 16; i++) {
			now_++;
			ASSERT_EQ(s.add("bss", id, bss(60, salt).head()), 0);
		}
		ASSERT_EQ(s.add("radio", id, radio(6).head()), 0);
	};
	size_t one = 0;
	{
		ReportStore probe = store();
		fill(probe, "probe");
		one = probe.memory();
	}
	fs::remove_all(path("probe"));
	ASSERT_GT(one, 16 * 60 * 12); // each BSS kept counts at least its fields
	rrmtest::LogCapture log;
	const size_t budget = 3 * one + one / 2;
	ReportStore s("/etc/wlc/rrm/radio1", 16, [this] { return now_; }, default_max_aps, budget);
	for (int i = 0; i < 10; i++) {
		fill(s, "ap" + std::to_string(i));
		EXPECT_LE(s.memory(), budget) << i;
	}
	EXPECT_EQ(s.count_aps(), 3u);
	for (const char *id : {"ap7", "ap8", "ap9"})
		EXPECT_TRUE(s.find(id)) << id;
	EXPECT_FALSE(s.find("ap0"));
	EXPECT_FALSE(fs::exists(path("ap0")));
	EXPECT_TRUE(log.has("report store over its budget of " + std::to_string(budget) + " bytes, forget ap0"));
	// A restart under the same budget holds the same APs.
	ReportStore again("/etc/wlc/rrm/radio1", 16, [this] { return now_; }, default_max_aps, budget);
	EXPECT_EQ(again.load(), 3u);
	EXPECT_LE(again.memory(), s.memory()); // a file may hold fewer reports than memory
	EXPECT_GT(again.memory(), 2 * one);
	// A smaller budget at start loads only what fits.
	ReportStore small("/etc/wlc/rrm/radio1", 16, [this] { return now_; }, default_max_aps, one + one / 2);
	small.load();
	EXPECT_EQ(small.count_aps(), 1u);
	EXPECT_LE(small.memory(), one + one / 2);
}

// Sixteen full BSS reports are more than a file may hold: the file keeps the
// newest that fit, and a restart reads it back.
TEST_F(StoreTest, BusySiteFileStaysLoadable)
{
	ReportStore s = store();
	for (int i = 0; i < 16; i++) {
		now_++;
		ASSERT_EQ(s.add("bss", "busy", bss(i < 8 ? 60 : 256).head()), 0);
		EXPECT_LE(fs::file_size(path("busy/bss.blob")), max_file_bytes) << i;
	}
	EXPECT_EQ(s.find("busy")->histories[kind_bss]->count(), 16u);
	ReportStore again = store();
	ASSERT_EQ(again.load(), 1u);
	uint64_t kept = again.find("busy")->histories[kind_bss]->count();
	EXPECT_GT(kept, 0u);
	EXPECT_LT(kept, 16u);
	EXPECT_EQ(again.latest_time(kind_bss, "busy"), now_);
	EXPECT_EQ(std::get<BssList>(*again.latest(kind_bss, "busy")).size(), 256u);
	EXPECT_FALSE(fs::exists(path("busy/bss.blob.tmp")));
}

TEST_F(StoreTest, RestartDropsOldAndSkipsStrangeFiles)
{
	{
		ReportStore s = store();
		ASSERT_EQ(s.add("radio", "old", radio(1).head()), 0);
		now_ += 3600;
		ASSERT_EQ(s.add("radio", "new", radio(6).head()), 0);
		ASSERT_EQ(s.add("bss", "new", bss(3).head()), 0);
		// Whole histories of another AP, put below under names that are not
		// history files: loading any of them would show channel 11 or 5 BSSs.
		ASSERT_EQ(s.add("radio", "other", radio(11).head()), 0);
		ASSERT_EQ(s.add("bss", "other", bss(5).head()), 0);
	}
	// Not "<kind>.blob": a suffix after "blob", a first "." elsewhere, a
	// registered kind with more after it (longer than 15 characters), no kind.
	const std::vector<std::string> strange = {"bss.blob.bak", "radio.blobx", "radio.blob.tmp", "bss.bak.blob",
						  "radioradioradioradio.blob", "bssbssbssbssbssbss.blob", ".radio.blob",
						  "radio", "radio.", "channelsradio.blob"};
	fs::create_directories(path("strange"));
	for (const std::string &name : strange) {
		std::string from = path(name.find("bss") == 0 ? "other/bss.blob" : "other/radio.blob");
		fs::copy_file(from, path("new/" + name));
		fs::copy_file(from, path("strange/" + name));
	}
	fs::remove_all(path("other"));
	now_ += max_file_age_s - 1800; // "old" is now more than a day old
	rrmtest::LogCapture log;
	ReportStore s = store();
	EXPECT_EQ(s.load(), 1u);
	EXPECT_FALSE(s.find("old"));
	EXPECT_FALSE(fs::exists(path("old/radio.blob")));
	EXPECT_FALSE(s.find("strange"));
	EXPECT_EQ(channels(s, "new"), (std::vector<int>{6}));
	ASSERT_TRUE(s.latest(kind_bss, "new"));
	EXPECT_EQ(s.find("new")->histories[kind_bss]->count(), 1u);
	EXPECT_EQ(std::get<BssList>(*s.latest(kind_bss, "new")).size(), 3u);
	EXPECT_FALSE(s.find("new")->histories[kind_channels]);
	// Passed over, not taken for damaged history files.
	for (const std::string &name : strange)
		for (const char *dir : {"new/", "strange/"}) {
			EXPECT_TRUE(fs::exists(path(dir + name))) << dir << name;
			EXPECT_FALSE(fs::exists(path(dir + name + ".bad"))) << dir << name;
		}
	EXPECT_FALSE(log.has("refused report file"));
}

// A file that does not load is moved aside, never deleted.
TEST_F(StoreTest, RefusedFileKeptAside)
{
	{
		ReportStore s = store();
		ASSERT_EQ(s.add("radio", "ap1", radio(1).head()), 0);
		ASSERT_EQ(s.add("radio", "ap2", radio(1).head()), 0);
	}
	fs::resize_file(path("ap1/radio.blob"), 10); // truncated
	{
		std::ofstream big(path("ap2/radio.blob"), std::ios::binary);
		const char hdr[4] = {0, 0x03, 0, 0}; // claims 192 KiB
		big.write(hdr, 4);
	}
	rrmtest::LogCapture log;
	ReportStore s = store();
	EXPECT_EQ(s.load(), 0u);
	EXPECT_TRUE(fs::exists(path("ap1/radio.blob.bad")));
	EXPECT_TRUE(fs::exists(path("ap2/radio.blob.bad")));
	EXPECT_FALSE(fs::exists(path("ap1/radio.blob")));
	EXPECT_TRUE(log.has("refused report file"));
	// The next report writes a fresh file beside the kept one.
	ASSERT_EQ(s.add("radio", "ap1", radio(11).head()), 0);
	EXPECT_TRUE(fs::exists(path("ap1/radio.blob")));
	EXPECT_TRUE(fs::exists(path("ap1/radio.blob.bad")));
}

// A report is added at the end of its file; what was written stays as it was.
TEST_F(StoreTest, AddAppendsOnlyTheNewest)
{
	ReportStore s = store();
	ASSERT_EQ(s.add("radio", "ap1", radio(1).head()), 0);
	std::string before = contents(path("ap1/radio.blob"));
	struct stat first;
	ASSERT_EQ(stat(path("ap1/radio.blob").c_str(), &first), 0);
	for (int i = 2; i <= 10; i++) {
		now_++;
		ASSERT_EQ(s.add("radio", "ap1", radio(i).head()), 0);
		std::string after = contents(path("ap1/radio.blob"));
		ASSERT_GT(after.size(), before.size());
		EXPECT_EQ(after.substr(0, before.size()), before) << i;
		before = after;
	}
	struct stat last;
	ASSERT_EQ(stat(path("ap1/radio.blob").c_str(), &last), 0);
	EXPECT_EQ(last.st_ino, first.st_ino); // the same file, not a new one renamed over it
	// Many more: the file is now and then written whole, and always loads.
	for (int i = 11; i <= 60; i++) {
		now_++;
		ASSERT_EQ(s.add("radio", "ap1", radio(i).head()), 0);
		EXPECT_LE(fs::file_size(path("ap1/radio.blob")), 40 * before.size() / 10) << i;
		ReportStore again = store();
		ASSERT_EQ(again.load(), 1u);
		std::vector<int> want;
		for (int c = std::max(1, i - 15); c <= i; c++)
			want.push_back(c);
		ASSERT_EQ(channels(again, "ap1"), want) << i;
	}
}

// A write cut short (the process killed halfway) loses that report only, and
// later reports are not lost behind the damaged end.
TEST_F(StoreTest, CutShortAppendLosesOnlyTheNewest)
{
	enum Cut { half, header_only, zeros };
	for (Cut cut : {half, header_only, zeros}) {
		std::string id = "ap" + std::to_string(cut);
		{
			ReportStore s = store();
			for (int i = 1; i <= 4; i++)
				ASSERT_EQ(s.add("radio", id, radio(i).head()), 0);
			uintmax_t before = fs::file_size(path(id + "/radio.blob"));
			ASSERT_EQ(s.add("radio", id, radio(5).head()), 0);
			uintmax_t after = fs::file_size(path(id + "/radio.blob"));
			ASSERT_GT(after, before + 8);
			if (cut == half)
				fs::resize_file(path(id + "/radio.blob"), before + (after - before) / 2);
			else if (cut == header_only)
				fs::resize_file(path(id + "/radio.blob"), before + 4);
			else {
				fs::resize_file(path(id + "/radio.blob"), before);
				fs::resize_file(path(id + "/radio.blob"), after); // the new table's blocks never written
			}
		}
		rrmtest::LogCapture log;
		ReportStore s = store();
		ASSERT_EQ(s.load(), 1u) << cut;
		EXPECT_EQ(channels(s, id), (std::vector<int>{1, 2, 3, 4})) << cut;
		EXPECT_TRUE(log.has("dropped the damaged end")) << cut;
		EXPECT_FALSE(fs::exists(path(id + "/radio.blob.bad"))) << cut;
		ASSERT_EQ(s.add("radio", id, radio(6).head()), 0);
		ReportStore again = store();
		ASSERT_EQ(again.load(), 1u);
		EXPECT_EQ(channels(again, id), (std::vector<int>{1, 2, 3, 4, 6})) << cut;
		fs::remove_all(path(id));
	}
}

// Only the first max_file_bytes of a file are read: a file grown past them
// keeps what lies within, and is not moved aside.
TEST_F(StoreTest, OverlongFileKeepsWhatLiesWithinTheLimit)
{
	{
		ReportStore s = store();
		for (int i = 1; i <= 3; i++)
			ASSERT_EQ(s.add("radio", "ap1", radio(i).head()), 0);
	}
	{
		std::ofstream out(path("ap1/radio.blob"), std::ios::binary | std::ios::app);
		std::string junk(max_file_bytes, '\x7f');
		out.write(junk.data(), static_cast<std::streamsize>(junk.size()));
	}
	ReportStore s = store();
	ASSERT_EQ(s.load(), 1u);
	EXPECT_EQ(channels(s, "ap1"), (std::vector<int>{1, 2, 3}));
	EXPECT_FALSE(fs::exists(path("ap1/radio.blob.bad")));
	// The next report writes the file whole, within the limit again.
	ASSERT_EQ(s.add("radio", "ap1", radio(4).head()), 0);
	EXPECT_LE(fs::file_size(path("ap1/radio.blob")), max_file_bytes);
	ReportStore again = store();
	ASSERT_EQ(again.load(), 1u);
	EXPECT_EQ(channels(again, "ap1"), (std::vector<int>{1, 2, 3, 4}));
}

// A file changed behind the store's back is written whole, not appended to.
TEST_F(StoreTest, FileChangedBehindTheStoreWrittenWhole)
{
	ReportStore s = store();
	for (int i = 1; i <= 3; i++)
		ASSERT_EQ(s.add("radio", "ap1", radio(i).head()), 0);
	fs::resize_file(path("ap1/radio.blob"), 10);
	ASSERT_EQ(s.add("radio", "ap1", radio(4).head()), 0);
	fs::remove(path("ap1/radio.blob"));
	ASSERT_EQ(s.add("radio", "ap1", radio(5).head()), 0);
	ReportStore again = store();
	ASSERT_EQ(again.load(), 1u);
	EXPECT_EQ(channels(again, "ap1"), (std::vector<int>{1, 2, 3, 4, 5}));
}

// Files written whole in one table, as earlier versions did, load;
// reports added later are appended to them.
TEST_F(StoreTest, EarlierFilesStillLoad)
{
	wlc::BlobBuf file;
	{
		auto reports = file.array("reports");
		for (int ch : {3, 2, 1}) { // newest first
			auto entry = file.table();
			file.add_u64("ts", static_cast<uint64_t>(now_ - 10 + ch));
			auto data = file.table("data");
			RadioReport r{ch, 20, {}, {{2, 0, 0, 0, 0, 1}}};
			encode_radio(file, r);
		}
	}
	fs::create_directories(path("old"));
	{
		std::ofstream out(path("old/radio.blob"), std::ios::binary);
		out.write(reinterpret_cast<const char *>(file.head()), blob_raw_len(file.head()));
	}
	std::string written = contents(path("old/radio.blob"));
	{
		ReportStore s = store();
		ASSERT_EQ(s.load(), 1u);
		EXPECT_EQ(channels(s, "old"), (std::vector<int>{1, 2, 3}));
		ASSERT_EQ(s.add("radio", "old", radio(4).head()), 0);
		EXPECT_EQ(contents(path("old/radio.blob")).substr(0, written.size()), written);
	}
	ReportStore s = store();
	ASSERT_EQ(s.load(), 1u);
	EXPECT_EQ(channels(s, "old"), (std::vector<int>{1, 2, 3, 4}));
}

TEST_F(StoreTest, Listing)
{
	ReportStore s = store();
	ASSERT_EQ(s.add("radio", "b", radio(6).head()), 0);
	ASSERT_EQ(s.add("bss", "a", bss(1).head()), 0);
	wlc::BlobBuf l;
	ASSERT_EQ(s.list(l, "radio", std::nullopt, 1, 1 << 20), 0);
	EXPECT_EQ(l.json(), R"({"a":{},"b":{"reports":[{"ts":1700000000,"data":{"ch":6,"pwr":20,"bssid":["02:00:00:00:00:01"]}}]}})");
	wlc::BlobBuf all;
	ASSERT_EQ(s.list(all, std::nullopt, std::string_view("a"), UINT32_MAX, 1 << 20), 0);
	EXPECT_EQ(all.json().substr(0, 30), R"({"channels":{"a":{}},"bss":{"a)");
	wlc::BlobBuf none;
	EXPECT_EQ(s.list(none, std::nullopt, std::string_view("x"), 1, 1 << 20), UBUS_STATUS_NO_DATA);
	EXPECT_EQ(s.list(none, "weather", std::nullopt, 1, 1 << 20), UBUS_STATUS_INVALID_ARGUMENT);
	// A listing larger than a reply may be fails instead of being cut.
	EXPECT_EQ(s.list(none, std::nullopt, std::nullopt, UINT32_MAX, 64), UBUS_STATUS_UNKNOWN_ERROR);
}

} // namespace
