// RAII handles over SQLite.
#include "sqlite.h"

namespace fleet {

Statement::Statement(sqlite3 *db, std::string_view sql)
{
	sqlite3_stmt *raw = nullptr;
	if (sqlite3_prepare_v3(db, sql.data(), static_cast<int>(sql.size()), SQLITE_PREPARE_PERSISTENT, &raw, nullptr) ==
	    SQLITE_OK)
		s_.reset(raw);
	else
		sqlite3_finalize(raw);
}

Statement &Statement::bind(int i, std::string_view text)
{
	sqlite3_bind_text(s_.get(), i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
	return *this;
}

Statement &Statement::bind(int i, int64_t value)
{
	sqlite3_bind_int64(s_.get(), i, value);
	return *this;
}

Statement &Statement::bind(int i, const std::optional<std::string> &text)
{
	if (text)
		return bind(i, std::string_view(*text));
	sqlite3_bind_null(s_.get(), i);
	return *this;
}

int Statement::step()
{
	return s_ ? sqlite3_step(s_.get()) : SQLITE_MISUSE;
}

bool Statement::run()
{
	int rc;
	while ((rc = step()) == SQLITE_ROW) {
	}
	return rc == SQLITE_DONE;
}

void Statement::reset()
{
	if (!s_)
		return;
	sqlite3_reset(s_.get());
	sqlite3_clear_bindings(s_.get());
}

bool Statement::run_once()
{
	bool ok = run();
	reset();
	return ok;
}

std::string Statement::text(int col) const
{
	const unsigned char *t = sqlite3_column_text(s_.get(), col);
	int n = sqlite3_column_bytes(s_.get(), col);
	return t ? std::string(reinterpret_cast<const char *>(t), static_cast<size_t>(n)) : std::string();
}

std::string_view Statement::view(int col) const
{
	const unsigned char *t = sqlite3_column_text(s_.get(), col);
	int n = sqlite3_column_bytes(s_.get(), col);
	return t ? std::string_view(reinterpret_cast<const char *>(t), static_cast<size_t>(n)) : std::string_view();
}

int64_t Statement::integer(int col) const
{
	return sqlite3_column_int64(s_.get(), col);
}

Transaction::Transaction(sqlite3 *db) : db_(db)
{
	nested_ = sqlite3_get_autocommit(db_) == 0;
	begun_ = exec(db_, nested_ ? "SAVEPOINT change" : "BEGIN IMMEDIATE");
}

Transaction::~Transaction()
{
	if (!begun_)
		return;
	if (nested_)
		sqlite3_exec(db_, "ROLLBACK TO change; RELEASE change", nullptr, nullptr, nullptr);
	else
		sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool Transaction::commit()
{
	if (!begun_)
		return false;
	if (!exec(db_, nested_ ? "RELEASE change" : "COMMIT"))
		return false;
	begun_ = false;
	return true;
}

bool exec(sqlite3 *db, const char *sql)
{
	return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

} // namespace fleet
