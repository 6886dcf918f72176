// RAII handles over SQLite: the connection, prepared statements with bound
// parameters, and transactions that roll back unless committed.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace fleet {

struct SqliteClose {
	void operator()(sqlite3 *db) const noexcept { sqlite3_close_v2(db); }
};
struct SqliteFinalize {
	void operator()(sqlite3_stmt *s) const noexcept { sqlite3_finalize(s); }
};
using SqliteHandle = std::unique_ptr<sqlite3, SqliteClose>;

// One prepared statement; parameters are numbered from 1, columns from 0.
class Statement {
public:
	Statement() = default;
	// Prepares sql on db; ok() tells whether it could be.
	Statement(sqlite3 *db, std::string_view sql);

	[[nodiscard]] bool ok() const { return s_ != nullptr; }
	Statement &bind(int i, std::string_view text);
	Statement &bind(int i, int64_t value);
	// Binds NULL when the value is absent.
	Statement &bind(int i, const std::optional<std::string> &text);
	// Runs one step: SQLITE_ROW, SQLITE_DONE or an error code.
	[[nodiscard]] int step();
	// Runs to the end; true when it ended with SQLITE_DONE.
	[[nodiscard]] bool run();
	// Ready for new parameters.
	void reset();
	// Runs to the end and is ready for new parameters; true when it ended
	// with SQLITE_DONE.
	[[nodiscard]] bool run_once();

	std::string text(int col) const;
	// The column's text, valid until the next step or reset.
	std::string_view view(int col) const;
	int64_t integer(int col) const;

private:
	std::unique_ptr<sqlite3_stmt, SqliteFinalize> s_;
};

// A write transaction (BEGIN IMMEDIATE); rolled back when it goes
// uncommitted. Inside another one (a batch of changes committed together)
// it is a savepoint: the change is undone alone if it goes uncommitted, and
// is durable with the enclosing transaction.
class Transaction {
public:
	explicit Transaction(sqlite3 *db);
	~Transaction();
	Transaction(const Transaction &) = delete;
	Transaction &operator=(const Transaction &) = delete;

	[[nodiscard]] bool begun() const { return begun_; }
	// True once the change is durable (nested: once it is part of the
	// enclosing transaction).
	[[nodiscard]] bool commit();

private:
	sqlite3 *db_;
	bool nested_ = false;
	bool begun_ = false;
};

// Runs SQL text without results (schema, pragmas); false on error.
[[nodiscard]] bool exec(sqlite3 *db, const char *sql);

} // namespace fleet
