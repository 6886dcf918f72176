// Checks of a bus message against a method's policy before anything is
// read from it: every field the policy names has the policy's type, and a
// table nests no deeper than a bound.
#pragma once

#include <wlc/c/ubox.h>

#include <span>
#include <string>

namespace fleet {

// Empty when every field of msg that the policy names has its type (unknown
// fields are let through); otherwise what is wrong, e.g.
// "field 'id' must be a string".
[[nodiscard]] std::string wrong_types(blob_attr *msg, std::span<const blobmsg_policy> policy);
// True when the table's contents nest at most levels deep.
[[nodiscard]] bool nests_within(const blob_attr *table, int levels);
// A table's fields as compact JSON.
[[nodiscard]] std::string table_json(const blob_attr *table);

} // namespace fleet
