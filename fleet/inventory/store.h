// The inventory file: opened, created or brought to the latest schema; a
// file that is damaged or is not an inventory is moved aside (never written
// over) and a new one started in its place.
#pragma once

#include <optional>
#include <string>

#include "sqlite.h"

namespace fleet {

struct OpenedStore {
	SqliteHandle db;
	std::string kept_aside; // where a damaged or foreign file went; empty if none
};

// Opens the file at path (already resolved under the device root). Null,
// with the reason in error, when no usable file can be had: one written by a
// newer schema, a directory that cannot be written, a file that cannot be
// moved aside.
std::optional<OpenedStore> open_store(const std::string &path, std::string &error);

} // namespace fleet
