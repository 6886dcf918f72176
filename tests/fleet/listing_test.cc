// The inventory's listings, held in memory: after every kind of change
// (joins, presence, approvals, forgetting, a batch rolled back, another
// connection's commit) they give exactly what a SELECT of the file gives,
// filtered, paged and in identifier order, and a listing of every AP reads
// no rows from the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>

#include "harness.h"
#include "inventory/inventory.h"
#include "inventory/store.h"

namespace {

using fleet::ApFilter;
using fleet::ApState;

constexpr std::array<const char *, 3> kSites = {"hq", "lab", "depot"};
constexpr std::array<const char *, 3> kModels = {"zev-ap1", "zev-ap2", "zev-ap3"};
constexpr std::array<ApState, 5> kStates = {ApState::pending, ApState::approved, ApState::adopted, ApState::offline,
					    ApState::refused};

class InventoryListing : public ::testing::Test {
protected:
	std::string path() const { return root_.path() + "/etc/fleet/fleet.db"; }

	std::unique_ptr<fleet::Inventory> open()
	{
		std::string error;
		auto opened = fleet::open_store(path(), error);
		if (!opened)
			throw std::runtime_error(error);
		return std::make_unique<fleet::Inventory>(std::move(opened->db), [this] { return now_++; });
	}

	static std::string id_of(unsigned n)
	{
		char buf[24];
		std::snprintf(buf, sizeof buf, "ap1-%02x-%02x-%02x", (n >> 16) & 0xff, (n >> 8) & 0xff, n & 0xff);
		return buf;
	}

	static fleet::JoinInfo join(unsigned n, const char *model)
	{
		return {id_of(n), "CERT", "23.05.2", "r1", model, "S" + std::to_string(n), "10.0.0.2/24",
			"00:11:22:00:00:" + std::to_string(n % 100), "ap-" + std::to_string(n), std::nullopt};
	}

	// The listing's fields of each AP, one line each, as the file holds them.
	static std::string select(sqlite3 *db, const ApFilter &f)
	{
		std::string sql = "SELECT id, site, model, serial, mac, fw_version, fw_revision, ip, hostname, state, online, "
				  "first_seen, last_seen FROM ap WHERE (?1 IS NULL OR site = ?1) AND (?2 IS NULL OR state = ?2) "
				  "AND (?3 IS NULL OR model = ?3) ORDER BY id LIMIT ?4 OFFSET ?5";
		fleet::Statement s(db, sql);
		std::optional<std::string> state;
		if (f.state)
			state = std::string(fleet::state_name(*f.state));
		s.bind(1, f.site).bind(2, state).bind(3, f.model).bind(4, f.limit).bind(5, f.offset);
		std::string out;
		while (s.step() == SQLITE_ROW) {
			for (int c = 0; c < 10; c++)
				out += s.text(c) + "|";
			for (int c = 10; c < 13; c++)
				out += std::to_string(s.integer(c)) + "|";
			out += "\n";
		}
		return out;
	}

	static std::string listed(fleet::Inventory &inv, const ApFilter &f)
	{
		std::string out;
		for (const fleet::ApRecord &r : inv.list(f)) {
			for (const std::string *t : {&r.id, &r.site, &r.model, &r.serial, &r.mac, &r.fw_version, &r.fw_revision,
						     &r.ip, &r.hostname})
				out += *t + "|";
			out += std::string(fleet::state_name(r.state)) + "|" + std::to_string(r.online ? 1 : 0) + "|" +
			       std::to_string(r.first_seen) + "|" + std::to_string(r.last_seen) + "|\n";
		}
		return out;
	}

	static int64_t selected_count(sqlite3 *db, const ApFilter &f)
	{
		ApFilter all = f;
		all.offset = 0;
		all.limit = -1;
		std::string rows = select(db, all);
		return std::count(rows.begin(), rows.end(), '\n');
	}

	// Every combination of filters, with and without a page, against the file.
	static void expect_as_the_file(fleet::Inventory &inv, sqlite3 *file)
	{
		std::vector<ApFilter> filters = {{}, {std::nullopt, std::nullopt, std::nullopt, 3, 5}};
		for (const char *site : kSites) {
			filters.push_back({site, std::nullopt, std::nullopt});
			for (ApState state : kStates) {
				filters.push_back({site, std::nullopt, state});
				filters.push_back({std::nullopt, std::nullopt, state, 2, 4});
				filters.push_back({site, kModels[1], state});
			}
		}
		for (const char *model : kModels)
			filters.push_back({std::nullopt, model, std::nullopt, 1, 3});
		filters.push_back({"nowhere", std::nullopt, std::nullopt});
		for (const ApFilter &f : filters) {
			std::string which = f.site.value_or("*") + "/" + f.model.value_or("*") + "/" +
					    (f.state ? std::string(fleet::state_name(*f.state)) : "*") + " offset " +
					    std::to_string(f.offset) + " limit " + std::to_string(f.limit);
			EXPECT_EQ(listed(inv, f), select(file, f)) << which;
			EXPECT_EQ(inv.count(f), selected_count(file, f)) << which;
		}
		EXPECT_EQ(inv.count(), selected_count(file, {}));
	}

	// A second connection to the file, as a check that reads what was committed.
	fleet::SqliteHandle reader() const
	{
		sqlite3 *raw = nullptr;
		EXPECT_EQ(sqlite3_open_v2(path().c_str(), &raw, SQLITE_OPEN_READWRITE, nullptr), SQLITE_OK);
		return fleet::SqliteHandle(raw);
	}

	wlctest::TempRoot root_;
	int64_t now_ = 1000;
};

// Joins, presence, approvals and forgetting in a fixed pseudo-random order:
// after each round the listings are those of the file, through the
// inventory's connection and through another one.
TEST_F(InventoryListing, EveryChangeListsAsTheFileHoldsIt)
{
	auto inv = open();
	fleet::SqliteHandle other = reader();
	std::mt19937 random(21);
	auto pick = [&random](size_t n) { return static_cast<size_t>(random() % n); };
	for (int round = 0; round < 8; round++) {
		for (int step = 0; step < 40; step++) {
			unsigned n = static_cast<unsigned>(pick(60));
			switch (pick(4)) {
			case 0:
				ASSERT_TRUE(inv->save_join(join(n, kModels[pick(3)]), kSites[pick(3)], kStates[pick(5)], {{"join", ""}}));
				break;
			case 1: {
				fleet::PresenceInfo p;
				p.id = id_of(n);
				p.online = pick(2) == 0;
				p.model = kModels[pick(3)];
				p.fw_revision = "r" + std::to_string(pick(5));
				ASSERT_TRUE(inv->save_presence(p, kSites[pick(3)], kStates[pick(5)], {}));
				break;
			}
			case 2:
				ASSERT_TRUE(inv->set_state(id_of(n), kStates[pick(5)], {"approval", "test"}));
				break;
			default:
				ASSERT_TRUE(inv->forget(id_of(n), {"forget", "test"}));
				break;
			}
		}
		ASSERT_NO_FATAL_FAILURE(expect_as_the_file(*inv, inv->raw()));
		ASSERT_NO_FATAL_FAILURE(expect_as_the_file(*inv, other.get()));
	}
	// Read again from the file, the same.
	std::string before = listed(*inv, {});
	inv.reset();
	inv = open();
	EXPECT_EQ(listed(*inv, {}), before);
	EXPECT_NE(before, "");
}

// A batch whose transaction is rolled back takes its changes out of the
// listings too; a change undone alone inside a kept batch leaves the rest.
TEST_F(InventoryListing, RolledBackBatchLeavesTheListings)
{
	auto inv = open();
	ASSERT_TRUE(inv->save_join(join(1, "zev-ap1"), "hq", ApState::adopted, {}));
	{
		fleet::Transaction batch(inv->raw());
		ASSERT_TRUE(batch.begun());
		ASSERT_TRUE(inv->save_join(join(2, "zev-ap2"), "hq", ApState::pending, {}));
		ASSERT_TRUE(inv->set_state(id_of(1), ApState::refused, {"refusal", "test"}));
		ASSERT_TRUE(inv->forget(id_of(1), {"forget", "test"}));
		EXPECT_EQ(inv->count(), 1);
		EXPECT_EQ(inv->list({})[0].id, id_of(2));
		// Never committed.
	}
	EXPECT_EQ(inv->count(), 1);
	ASSERT_EQ(inv->list({}).size(), 1u);
	EXPECT_EQ(inv->list({})[0].id, id_of(1));
	EXPECT_EQ(inv->list({})[0].state, ApState::adopted);
	EXPECT_EQ(inv->count({"hq", std::nullopt, ApState::pending}), 0);
	ASSERT_NO_FATAL_FAILURE(expect_as_the_file(*inv, inv->raw()));

	{
		fleet::Transaction batch(inv->raw());
		ASSERT_TRUE(inv->save_join(join(3, "zev-ap3"), "lab", ApState::approved, {}));
		{
			fleet::Transaction change(inv->raw());
			ASSERT_TRUE(fleet::exec(inv->raw(), "DELETE FROM ap"));
			// Undone alone.
		}
		ASSERT_TRUE(batch.commit());
	}
	EXPECT_EQ(inv->count(), 2);
	EXPECT_EQ(inv->count({"lab", std::nullopt, ApState::approved}), 1);
	ASSERT_NO_FATAL_FAILURE(expect_as_the_file(*inv, inv->raw()));
}

// What another connection commits to the file (a repair by hand, a restore)
// shows in the next listing.
TEST_F(InventoryListing, AnotherConnectionsCommitIsListed)
{
	auto inv = open();
	ASSERT_TRUE(inv->save_join(join(1, "zev-ap1"), "hq", ApState::adopted, {}));
	ASSERT_TRUE(inv->save_join(join(2, "zev-ap1"), "hq", ApState::adopted, {}));
	EXPECT_EQ(inv->count({"hq", std::nullopt, std::nullopt}), 2);
	fleet::SqliteHandle other = reader();
	ASSERT_TRUE(fleet::exec(other.get(), "UPDATE ap SET site = 'lab', state = 'offline' WHERE id = 'ap1-00-00-01'; "
					     "INSERT INTO ap(id, site, state, first_seen, last_seen) "
					     "VALUES ('ap1-00-00-09', 'depot', 'pending', 5, 6)"));
	EXPECT_EQ(inv->count(), 3);
	EXPECT_EQ(inv->count({"hq", std::nullopt, std::nullopt}), 1);
	EXPECT_EQ(inv->count({"lab", std::nullopt, ApState::offline}), 1);
	ASSERT_EQ(inv->list({"depot", std::nullopt, std::nullopt}).size(), 1u);
	EXPECT_EQ(inv->list({"depot", std::nullopt, std::nullopt})[0].last_seen, 6);
	ASSERT_NO_FATAL_FAILURE(expect_as_the_file(*inv, other.get()));
}

int traced_row(unsigned, void *rows, void *, void *)
{
	++*static_cast<int *>(rows);
	return 0;
}

// Listing every AP, or a page of a filter, takes no rows from the file: the
// cost of a listing of a large installation is that of copying it.
TEST_F(InventoryListing, ListingReadsNoRowsFromTheFile)
{
	auto inv = open();
	for (unsigned n = 0; n < 200; n++)
		ASSERT_TRUE(inv->save_join(join(n, kModels[n % 3]), kSites[n % 3], ApState::adopted, {}));
	int rows = 0;
	sqlite3_trace_v2(inv->raw(), SQLITE_TRACE_ROW, traced_row, &rows);
	EXPECT_EQ(inv->list({}).size(), 200u);
	EXPECT_EQ(inv->count({}), 200);
	EXPECT_EQ(inv->list({"lab", std::nullopt, ApState::adopted, 0, 10}).size(), 10u);
	EXPECT_EQ(inv->count({"lab", std::nullopt, ApState::adopted}), 67);
	sqlite3_trace_v2(inv->raw(), 0, nullptr, nullptr);
	// At most the file's data version, once per call.
	EXPECT_LE(rows, 4);
}

} // namespace
