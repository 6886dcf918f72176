// Opening the inventory file.
#include "store.h"

#include <wlc/log.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <filesystem>

#include "schema.h"

namespace fleet {

namespace {

enum class Kind { empty, ours, newer, foreign, damaged };

struct Classified {
	Kind kind = Kind::damaged;
	int version = 0;
};

bool single_integer(sqlite3 *db, const char *sql, int64_t &out)
{
	Statement s(db, sql);
	if (!s.ok() || s.step() != SQLITE_ROW)
		return false;
	out = s.integer(0);
	return true;
}

bool quick_check_ok(sqlite3 *db)
{
	Statement s(db, "PRAGMA quick_check");
	return s.ok() && s.step() == SQLITE_ROW && s.text(0) == "ok";
}

Classified classify(sqlite3 *db)
{
	int64_t app = 0, version = 0, objects = 0;
	if (!single_integer(db, "PRAGMA application_id", app) || !single_integer(db, "PRAGMA user_version", version) ||
	    !single_integer(db, "SELECT count(*) FROM sqlite_master", objects) || !quick_check_ok(db))
		return {Kind::damaged};
	if (app == 0 && version == 0 && objects == 0)
		return {Kind::empty};
	if (app != kApplicationId || version < 1)
		return {Kind::foreign};
	if (version > latest_schema_version())
		return {Kind::newer, static_cast<int>(version)};
	return {Kind::ours, static_cast<int>(version)};
}

SqliteHandle open_file(const std::string &path, int flags)
{
	sqlite3 *raw = nullptr;
	int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
	SqliteHandle db(raw);
	if (rc != SQLITE_OK)
		return nullptr;
	sqlite3_extended_result_codes(db.get(), 1);
	sqlite3_busy_timeout(db.get(), 5000);
	return db;
}

std::string utc_stamp()
{
	std::time_t now = std::time(nullptr);
	std::tm tm = {};
	gmtime_r(&now, &tm);
	char buf[32];
	std::strftime(buf, sizeof buf, "%Y%m%dT%H%M%SZ", &tm);
	return buf;
}

// Moves the file and its journal files to <path>.corrupt-<time>[-n].
bool move_aside(const std::string &path, std::string &to, std::string &error)
{
	namespace fs = std::filesystem;
	std::string base = path + ".corrupt-" + utc_stamp();
	to = base;
	for (int n = 1; fs::exists(to); n++)
		to = base + "-" + std::to_string(n);
	std::error_code ec;
	fs::rename(path, to, ec);
	if (ec) {
		error = "cannot move " + path + " aside: " + ec.message();
		return false;
	}
	for (const char *suffix : {"-wal", "-shm", "-journal"}) {
		if (fs::exists(path + suffix))
			fs::rename(path + suffix, to + suffix, ec);
	}
	return true;
}

// Durable against a kill of the process and of the machine: every commit
// reaches the disk before it is acknowledged.
bool set_pragmas(sqlite3 *db)
{
	Statement wal(db, "PRAGMA journal_mode = WAL");
	if (!wal.ok() || wal.step() != SQLITE_ROW || wal.text(0) != "wal")
		return false;
	// Listings are served from the rows the inventory holds in memory; the
	// page cache serves writes and single look-ups, whose pages (the upper
	// levels of each tree, the newest leaves) fit in a few MiB.
	return exec(db, "PRAGMA synchronous = FULL") && exec(db, "PRAGMA foreign_keys = ON") &&
	       exec(db, "PRAGMA cache_size = -2048");
}

const char *kind_text(Kind k)
{
	return k == Kind::foreign ? "not an inventory" : "damaged";
}

std::optional<OpenedStore> create_fresh(const std::string &path, std::string kept, std::string &error)
{
	SqliteHandle db = open_file(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
	if (!db || !set_pragmas(db.get()) || !migrate(db.get(), 0)) {
		error = "cannot create " + path + (db ? std::string(": ") + sqlite3_errmsg(db.get()) : std::string());
		return std::nullopt;
	}
	return OpenedStore{std::move(db), std::move(kept)};
}

} // namespace

std::optional<OpenedStore> open_store(const std::string &path, std::string &error)
{
	std::error_code ec;
	std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
	if (!std::filesystem::exists(path))
		return create_fresh(path, "", error);
	SqliteHandle db = open_file(path, SQLITE_OPEN_READWRITE);
	if (!db) {
		error = "cannot open " + path + " for reading and writing";
		return std::nullopt;
	}
	Classified c = classify(db.get());
	if (c.kind == Kind::newer) {
		error = path + " has schema version " + std::to_string(c.version) + ", newer than this service's " +
			std::to_string(latest_schema_version());
		return std::nullopt;
	}
	if (c.kind == Kind::ours || c.kind == Kind::empty) {
		if (!set_pragmas(db.get()) || !migrate(db.get(), c.version)) {
			error = "cannot bring " + path + " to schema version " + std::to_string(latest_schema_version()) +
				": " + sqlite3_errmsg(db.get());
			return std::nullopt;
		}
		return OpenedStore{std::move(db), ""};
	}
	db.reset();
	std::string kept;
	if (!move_aside(path, kept, error))
		return std::nullopt;
	wlc::logf(LOG_ERR, "Inventory %s is %s: kept as %s, starting a new one", path.c_str(), kind_text(c.kind),
		  kept.c_str());
	return create_fresh(path, std::move(kept), error);
}

} // namespace fleet
