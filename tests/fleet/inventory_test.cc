// The inventory file: created with the latest schema, durable settings,
// old files migrated with their rows, damaged and foreign files kept aside
// (never written over) with a new inventory started in their place.
#include <gtest/gtest.h>

#include <filesystem>

#include "harness.h"
#include "inventory/inventory.h"
#include "inventory/schema.h"
#include "inventory/store.h"

namespace {

namespace fs = std::filesystem;
using fleet::ApState;

// The first schema, as fleetd's first release wrote it, with one AP.
constexpr const char *kVersion1File = R"(
CREATE TABLE ap(id TEXT PRIMARY KEY NOT NULL, site TEXT NOT NULL, model TEXT NOT NULL DEFAULT '',
  serial TEXT NOT NULL DEFAULT '', mac TEXT NOT NULL DEFAULT '', cert TEXT NOT NULL DEFAULT '',
  fw_version TEXT NOT NULL DEFAULT '', fw_revision TEXT NOT NULL DEFAULT '', ip TEXT NOT NULL DEFAULT '',
  hostname TEXT NOT NULL DEFAULT '', custom_config TEXT NOT NULL DEFAULT '{}',
  state TEXT NOT NULL CHECK (state IN ('pending', 'approved', 'adopted', 'offline', 'refused')),
  online INTEGER NOT NULL DEFAULT 0, first_seen INTEGER NOT NULL, last_seen INTEGER NOT NULL);
CREATE INDEX ap_site_state ON ap(site, state);
CREATE INDEX ap_model ON ap(model);
CREATE TABLE event(seq INTEGER PRIMARY KEY AUTOINCREMENT, ap TEXT NOT NULL, at INTEGER NOT NULL,
  kind TEXT NOT NULL, detail TEXT NOT NULL DEFAULT '');
CREATE INDEX event_ap ON event(ap, seq);
INSERT INTO ap(id, site, model, serial, state, first_seen, last_seen)
  VALUES ('ap1-a3-b4-c5', 'hq', 'zev-ap1', 'S1', 'adopted', 100, 200);
INSERT INTO event(ap, at, kind, detail) VALUES ('ap1-a3-b4-c5', 100, 'join', '');
PRAGMA application_id = 1179407428;
PRAGMA user_version = 1;
)";

class InventoryFile : public ::testing::Test {
protected:
	std::string path() const { return root_.path() + "/etc/fleet/fleet.db"; }

	fleet::Inventory open()
	{
		std::string error;
		auto opened = fleet::open_store(path(), error);
		EXPECT_TRUE(opened) << error;
		if (!opened)
			throw std::runtime_error(error);
		kept_ = opened->kept_aside;
		return fleet::Inventory(std::move(opened->db), [this] { return now_; });
	}

	// Runs SQL on a file of the test's own making.
	void write_with_sqlite(const std::string &sql)
	{
		fs::create_directories(fs::path(path()).parent_path());
		sqlite3 *raw = nullptr;
		ASSERT_EQ(sqlite3_open(path().c_str(), &raw), SQLITE_OK);
		fleet::SqliteHandle db(raw);
		ASSERT_TRUE(fleet::exec(db.get(), sql.c_str())) << sqlite3_errmsg(db.get());
	}

	static int64_t pragma(fleet::Inventory &inv, const char *sql)
	{
		fleet::Statement s(inv.raw(), sql);
		return s.step() == SQLITE_ROW ? s.integer(0) : -1;
	}

	// How SQLite reads a page of the listing with this filter, in identifier order.
	static std::string listing_plan(fleet::Inventory &inv, const std::string &where)
	{
		fleet::Statement s(inv.raw(), "EXPLAIN QUERY PLAN SELECT * FROM ap WHERE " + where + " ORDER BY id LIMIT ?4");
		std::string plan;
		while (s.step() == SQLITE_ROW)
			plan += s.text(3) + "; ";
		return plan;
	}
	// The filtered listings an operator makes most: each page straight from
	// an index, without sorting every matching row (a model has thousands).
	static void expect_indexed_listings(fleet::Inventory &inv)
	{
		for (const char *where : {"site = ?1 AND state = ?2", "model = ?3", "state = ?2"}) {
			std::string plan = listing_plan(inv, where);
			EXPECT_NE(plan.find("SEARCH ap USING"), std::string::npos) << where << ": " << plan;
			EXPECT_EQ(plan.find("TEMP B-TREE"), std::string::npos) << where << ": " << plan;
		}
	}

	static fleet::JoinInfo join(const std::string &id)
	{
		return {id, "CERT", "23.05.2", "r1", "zev-ap1", "S-" + id, "10.0.0.2/24", "00:11:22:a3:b4:c5", "ap-one",
			R"({"ssid":"office"})"};
	}

	wlctest::TempRoot root_;
	std::string kept_;
	int64_t now_ = 1000;
};

TEST_F(InventoryFile, NewFileHasTheLatestSchemaWalAndFullSync)
{
	fleet::Inventory inv = open();
	EXPECT_EQ(kept_, "");
	EXPECT_EQ(pragma(inv, "PRAGMA user_version"), fleet::latest_schema_version());
	EXPECT_EQ(pragma(inv, "PRAGMA application_id"), fleet::kApplicationId);
	EXPECT_EQ(pragma(inv, "PRAGMA synchronous"), 2); // FULL
	fleet::Statement mode(inv.raw(), "PRAGMA journal_mode");
	ASSERT_EQ(mode.step(), SQLITE_ROW);
	EXPECT_EQ(mode.text(0), "wal");
}

TEST_F(InventoryFile, JoinIsKeptWithItsHistoryAcrossReopening)
{
	{
		fleet::Inventory inv = open();
		ASSERT_TRUE(inv.save_join(join("ap1-a3-b4-c5"), "hq", ApState::pending, {{"join", ""}}));
		now_ = 2000;
		ASSERT_TRUE(inv.set_state("ap1-a3-b4-c5", ApState::approved, {"approval", "auto"}));
	}
	fleet::Inventory inv = open();
	auto ap = inv.find("ap1-a3-b4-c5");
	ASSERT_TRUE(ap);
	EXPECT_EQ(ap->site, "hq");
	EXPECT_EQ(ap->state, ApState::approved);
	EXPECT_EQ(ap->serial, "S-ap1-a3-b4-c5");
	EXPECT_EQ(ap->mac, "00:11:22:a3:b4:c5");
	EXPECT_EQ(ap->custom_config, R"({"ssid":"office"})");
	EXPECT_EQ(ap->first_seen, 1000);
	auto events = inv.history("ap1-a3-b4-c5", 10);
	ASSERT_EQ(events.size(), 2u);
	EXPECT_EQ(events[0].kind, "join");
	EXPECT_EQ(events[1].kind, "approval");
	EXPECT_EQ(events[1].detail, "auto");
	EXPECT_EQ(events[1].at, 2000);
}

TEST_F(InventoryFile, PresenceKeepsFieldsItDoesNotCarry)
{
	fleet::Inventory inv = open();
	ASSERT_TRUE(inv.save_join(join("ap1-a3-b4-c5"), "hq", ApState::approved, {}));
	fleet::PresenceInfo p;
	p.id = "ap1-a3-b4-c5";
	p.fw_revision = "r2";
	p.online = false;
	now_ = 3000;
	ASSERT_TRUE(inv.save_presence(p, "other", ApState::offline, {{"offline", ""}}));
	auto ap = inv.find("ap1-a3-b4-c5");
	ASSERT_TRUE(ap);
	EXPECT_EQ(ap->fw_revision, "r2");
	EXPECT_EQ(ap->fw_version, "23.05.2");
	EXPECT_EQ(ap->cert, "CERT");
	EXPECT_EQ(ap->site, "hq"); // a known AP keeps its site
	EXPECT_FALSE(ap->online);
	EXPECT_EQ(ap->last_seen, 3000);
}

// The presence record that comes with every connection of an adopted AP
// writes its row alone, not the indexes of fields that did not change; one
// that changes them is kept, and the filtered listings follow it.
TEST_F(InventoryFile, PresenceWritesOnlyWhatChanged)
{
	fleet::Inventory inv = open();
	ASSERT_TRUE(inv.save_join(join("ap1-a3-b4-c5"), "hq", ApState::adopted, {}));
	auto wal_frames = [&] {
		int log = -1, done = -1;
		EXPECT_EQ(sqlite3_wal_checkpoint_v2(inv.raw(), nullptr, SQLITE_CHECKPOINT_PASSIVE, &log, &done), SQLITE_OK);
		return log;
	};
	ASSERT_TRUE(fleet::exec(inv.raw(), "PRAGMA wal_checkpoint(TRUNCATE)"));
	fleet::PresenceInfo p;
	p.id = "ap1-a3-b4-c5";
	p.model = "zev-ap1";
	p.serial = "S-ap1-a3-b4-c5";
	p.mac = "00:11:22:a3:b4:c5";
	p.online = true;
	now_ = 2000;
	ASSERT_TRUE(inv.save_presence(p, "hq", ApState::adopted, {}));
	EXPECT_EQ(wal_frames(), 1); // the AP's row
	EXPECT_EQ(inv.find("ap1-a3-b4-c5")->last_seen, 2000);

	p.model = "zev-ap2";
	p.mac = "00:11:22:A3:B4:C6";
	ASSERT_TRUE(inv.save_presence(p, "hq", ApState::offline, {}));
	auto ap = inv.find("ap1-a3-b4-c5");
	ASSERT_TRUE(ap);
	EXPECT_EQ(ap->model, "zev-ap2");
	EXPECT_EQ(ap->mac, "00:11:22:A3:B4:C6");
	EXPECT_EQ(ap->state, ApState::offline);
	EXPECT_EQ(inv.list({std::nullopt, std::string("zev-ap2"), ApState::offline}).size(), 1u);
	EXPECT_EQ(inv.list({std::nullopt, std::string("zev-ap1"), std::nullopt}).size(), 0u);
}

TEST_F(InventoryFile, ListFiltersBySiteStateAndModel)
{
	fleet::Inventory inv = open();
	ASSERT_TRUE(inv.save_join(join("ap1-00-00-01"), "hq", ApState::pending, {}));
	ASSERT_TRUE(inv.save_join(join("ap1-00-00-02"), "hq", ApState::adopted, {}));
	auto other = join("ap2-00-00-03");
	other.model = "zev-ap2";
	ASSERT_TRUE(inv.save_join(other, "lab", ApState::adopted, {}));
	EXPECT_EQ(inv.list({}).size(), 3u);
	EXPECT_EQ(inv.list({"hq", std::nullopt, std::nullopt}).size(), 2u);
	auto adopted_hq = inv.list({"hq", std::nullopt, ApState::adopted});
	ASSERT_EQ(adopted_hq.size(), 1u);
	EXPECT_EQ(adopted_hq[0].id, "ap1-00-00-02");
	auto ap2 = inv.list({std::nullopt, std::string("zev-ap2"), std::nullopt});
	ASSERT_EQ(ap2.size(), 1u);
	EXPECT_EQ(ap2[0].id, "ap2-00-00-03");
}

TEST_F(InventoryFile, FilteredListingsReadAnIndexInIdentifierOrder)
{
	fleet::Inventory inv = open();
	expect_indexed_listings(inv);
}

TEST_F(InventoryFile, ForgetRemovesTheApAndKeepsItsHistory)
{
	fleet::Inventory inv = open();
	ASSERT_TRUE(inv.save_join(join("ap1-a3-b4-c5"), "hq", ApState::pending, {{"join", ""}}));
	ASSERT_TRUE(inv.forget("ap1-a3-b4-c5", {"forget", "operator"}));
	EXPECT_FALSE(inv.find("ap1-a3-b4-c5"));
	auto events = inv.history("ap1-a3-b4-c5", 10);
	ASSERT_EQ(events.size(), 2u);
	EXPECT_EQ(events[1].kind, "forget");
}

TEST_F(InventoryFile, HistoryKeepsTheNewestEventsOfEachAp)
{
	fleet::Inventory inv = open();
	ASSERT_TRUE(inv.save_join(join("ap1-a3-b4-c5"), "hq", ApState::adopted, {{"join", "other AP"}}));
	ASSERT_TRUE(inv.save_join(join("ap1-00-00-01"), "hq", ApState::adopted, {}));
	for (int64_t i = 0; i < fleet::kMaxEventsPerAp + 5; i++)
		ASSERT_TRUE(inv.note("ap1-00-00-01", {"online", std::to_string(i)}));
	auto events = inv.history("ap1-00-00-01", 5000);
	ASSERT_EQ(static_cast<int64_t>(events.size()), fleet::kMaxEventsPerAp);
	EXPECT_EQ(events.front().detail, "5");
	EXPECT_EQ(events.back().detail, std::to_string(fleet::kMaxEventsPerAp + 4));
	EXPECT_EQ(inv.history("ap1-a3-b4-c5", 10).size(), 1u);
}

TEST_F(InventoryFile, AllowListMatchesSerialOrMacWithItsSite)
{
	fleet::Inventory inv = open();
	ASSERT_TRUE(inv.allow(fleet::AllowKind::serial, "S77", "lab"));
	ASSERT_TRUE(inv.allow(fleet::AllowKind::mac, "00:11:22:33:44:55", "hq"));
	EXPECT_EQ(inv.allowed_site("S77", ""), "lab");
	EXPECT_EQ(inv.allowed_site("other", "00:11:22:33:44:55"), "hq");
	EXPECT_EQ(inv.allowed_site("other", "00:11:22:33:44:56"), std::nullopt);
	EXPECT_EQ(inv.allowed_site("", ""), std::nullopt);
}

TEST_F(InventoryFile, FirstVersionFileIsMigratedWithItsRows)
{
	write_with_sqlite(kVersion1File);
	fleet::Inventory inv = open();
	EXPECT_EQ(kept_, "");
	EXPECT_EQ(pragma(inv, "PRAGMA user_version"), fleet::latest_schema_version());
	auto ap = inv.find("ap1-a3-b4-c5");
	ASSERT_TRUE(ap);
	EXPECT_EQ(ap->state, ApState::adopted);
	EXPECT_EQ(inv.history("ap1-a3-b4-c5", 10).size(), 1u);
	// What the later versions added works on the migrated file.
	ASSERT_TRUE(inv.allow(fleet::AllowKind::serial, "S1", "hq"));
	EXPECT_EQ(inv.allowed_site("S1", ""), "hq");
	expect_indexed_listings(inv);
	EXPECT_EQ(inv.list({"hq", std::nullopt, ApState::adopted}).size(), 1u);
}

TEST_F(InventoryFile, DamagedFileIsKeptAsideAndANewOneStarted)
{
	fs::create_directories(fs::path(path()).parent_path());
	std::string garbage(8192, '\x5a');
	wlctest::write_text(path(), garbage);
	fleet::Inventory inv = open();
	ASSERT_NE(kept_, "");
	EXPECT_EQ(kept_.rfind(path() + ".corrupt-", 0), 0u) << kept_;
	EXPECT_EQ(wlctest::read_text(kept_), garbage);
	EXPECT_EQ(inv.count(), 0);
	EXPECT_TRUE(inv.save_join(join("ap1-a3-b4-c5"), "hq", ApState::pending, {}));
}

TEST_F(InventoryFile, InventoryWithDamagedPagesIsKeptAside)
{
	{
		fleet::Inventory inv = open();
		for (int i = 0; i < 200; i++) {
			char id[32];
			std::snprintf(id, sizeof id, "ap1-00-%02x-%02x", i / 256, i % 256);
			ASSERT_TRUE(inv.save_join(join(id), "hq", ApState::pending, {{"join", std::string(200, 'x')}}));
		}
		ASSERT_TRUE(fleet::exec(inv.raw(), "PRAGMA wal_checkpoint(TRUNCATE)"));
	}
	// Overwrite pages in the middle of the file (the header stays valid).
	std::string bytes = wlctest::read_text(path());
	ASSERT_GT(bytes.size(), 40000u);
	for (size_t i = 8192; i < 40000; i++)
		bytes[i] = static_cast<char>(i * 7);
	wlctest::write_text(path(), bytes);
	fleet::Inventory inv = open();
	ASSERT_NE(kept_, "");
	EXPECT_EQ(wlctest::read_text(kept_), bytes);
	EXPECT_EQ(inv.count(), 0);
}

TEST_F(InventoryFile, ForeignDatabaseIsKeptAside)
{
	write_with_sqlite("CREATE TABLE photos(name TEXT); INSERT INTO photos VALUES ('cat');");
	fleet::Inventory inv = open();
	ASSERT_NE(kept_, "");
	sqlite3 *raw = nullptr;
	ASSERT_EQ(sqlite3_open_v2(kept_.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
	fleet::SqliteHandle kept(raw);
	fleet::Statement s(kept.get(), "SELECT name FROM photos");
	ASSERT_EQ(s.step(), SQLITE_ROW);
	EXPECT_EQ(s.text(0), "cat");
	EXPECT_EQ(inv.count(), 0);
}

TEST_F(InventoryFile, FileOfANewerSchemaIsRefusedAndLeftAlone)
{
	write_with_sqlite(std::string(kVersion1File) + "PRAGMA user_version = 99;");
	std::string before = wlctest::read_text(path());
	std::string error;
	EXPECT_FALSE(fleet::open_store(path(), error));
	EXPECT_NE(error.find("newer"), std::string::npos) << error;
	EXPECT_EQ(wlctest::read_text(path()), before);
	for (const auto &e : fs::directory_iterator(fs::path(path()).parent_path()))
		EXPECT_EQ(e.path().string().find(".corrupt-"), std::string::npos) << e.path();
}

} // namespace

namespace {

// A file of schema version 5, as fleetd wrote it before certificates and
// custom configurations had a table of their own, with one AP.
void write_version5_file(const std::string &path)
{
	fs::create_directories(fs::path(path).parent_path());
	sqlite3 *raw = nullptr;
	ASSERT_EQ(sqlite3_open(path.c_str(), &raw), SQLITE_OK);
	fleet::SqliteHandle db(raw);
	for (const fleet::Migration &m : fleet::migrations()) {
		if (m.version > 5)
			continue;
		ASSERT_TRUE(fleet::exec(db.get(), m.sql)) << m.version << ": " << sqlite3_errmsg(db.get());
	}
	ASSERT_TRUE(fleet::exec(db.get(), R"(
INSERT INTO ap(id, site, model, serial, cert, custom_config, state, first_seen, last_seen)
  VALUES ('ap1-a3-b4-c5', 'hq', 'zev-ap1', 'S1', 'PEM OF AP1', '{"ssid":"lab"}', 'adopted', 100, 200);
PRAGMA application_id = 1179407428;
PRAGMA user_version = 5;)")) << sqlite3_errmsg(db.get());
}

} // namespace

TEST_F(InventoryFile, FifthVersionFileKeepsCertificatesInATableOfTheirOwn)
{
	ASSERT_NO_FATAL_FAILURE(write_version5_file(path()));
	fleet::Inventory inv = open();
	EXPECT_EQ(kept_, "");
	EXPECT_EQ(pragma(inv, "PRAGMA user_version"), 6);
	auto ap = inv.find("ap1-a3-b4-c5");
	ASSERT_TRUE(ap);
	EXPECT_EQ(ap->cert, "PEM OF AP1");
	EXPECT_EQ(ap->custom_config, R"({"ssid":"lab"})");
	EXPECT_EQ(ap->serial, "S1");
	EXPECT_EQ(ap->state, ApState::adopted);
	// The listing's rows no longer carry them.
	fleet::Statement wide(inv.raw(), "SELECT cert FROM ap");
	EXPECT_FALSE(wide.ok());
	auto listed = inv.list({});
	ASSERT_EQ(listed.size(), 1u);
	EXPECT_EQ(listed[0].cert, "");
	EXPECT_EQ(listed[0].serial, "S1");
	expect_indexed_listings(inv);

	// A join with another certificate replaces it; forgetting the AP removes it.
	fleet::JoinInfo j = join("ap1-a3-b4-c5");
	j.cert = "NEW PEM";
	j.custom_config.reset();
	ASSERT_TRUE(inv.save_join(j, "hq", ApState::approved, {}));
	EXPECT_EQ(inv.find("ap1-a3-b4-c5")->cert, "NEW PEM");
	EXPECT_EQ(inv.find("ap1-a3-b4-c5")->custom_config, R"({"ssid":"lab"})");
	ASSERT_TRUE(inv.forget("ap1-a3-b4-c5", {"forget", "operator"}));
	EXPECT_EQ(pragma(inv, "SELECT count(*) FROM ap_detail"), 0);
}

// Changes made inside an enclosing transaction (a batch of records) are
// each undone alone when they fail, and durable only with the batch.
TEST_F(InventoryFile, ChangesInsideABatchAreUndoneAloneAndKeptWithTheBatch)
{
	{
		fleet::Inventory inv = open();
		fleet::Transaction batch(inv.raw());
		ASSERT_TRUE(batch.begun());
		ASSERT_TRUE(inv.save_join(join("ap1-00-00-01"), "hq", ApState::approved, {{"join", ""}}));
		{
			fleet::Transaction change(inv.raw());
			ASSERT_TRUE(change.begun());
			ASSERT_TRUE(fleet::exec(inv.raw(), "DELETE FROM ap"));
			// Not committed: only this change goes.
		}
		ASSERT_TRUE(inv.save_join(join("ap1-00-00-02"), "hq", ApState::approved, {{"join", ""}}));
		EXPECT_EQ(inv.count(), 2);
		ASSERT_TRUE(batch.commit());
	}
	{
		fleet::Inventory inv = open();
		EXPECT_EQ(inv.count(), 2);
		fleet::Transaction batch(inv.raw());
		ASSERT_TRUE(inv.save_join(join("ap1-00-00-03"), "hq", ApState::approved, {{"join", ""}}));
		// The batch is never committed: its changes are not kept.
	}
	fleet::Inventory inv = open();
	EXPECT_EQ(inv.count(), 2);
	EXPECT_FALSE(inv.find("ap1-00-00-03"));
	EXPECT_EQ(inv.history("ap1-00-00-02", 10).size(), 1u);
}
