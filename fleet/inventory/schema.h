// The inventory's schema: the file's application id and the ordered
// migrations that bring a file of any earlier version to the latest one.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <span>

namespace fleet {

// "FLTD": marks a file as this service's inventory.
inline constexpr int32_t kApplicationId = 0x464c5444;

struct Migration {
	int version; // the user_version the file has once this step ran
	const char *sql;
};

// Every step from an empty file on, in order.
std::span<const Migration> migrations();
int latest_schema_version();

// Runs the steps past from_version, each in a transaction of its own that
// also sets the file's version; false (the file left at the last whole step)
// when one fails.
[[nodiscard]] bool migrate(sqlite3 *db, int from_version);

} // namespace fleet
