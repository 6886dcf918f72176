// Configuration documents: JSON objects read with bounded depth and size,
// and the merge of the site's, the group's and the AP's documents into the
// configuration an AP runs.
//
// The merge takes each document in turn over the result so far:
//   - an object member merges into the member of the same name when both
//     are objects (deeply);
//   - any other value (string, number, boolean, array) replaces the member
//     whole: arrays are never joined element by element;
//   - a member whose value is null removes that member from the result (so
//     a group or an AP can take back what its site set); a null never
//     reaches the result itself, except inside arrays, which are kept as
//     given.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fleet {

// The deepest nesting of objects and arrays a document may have.
inline constexpr int kMaxConfigDepth = 16;
// The largest document text, and the largest merged configuration: well
// inside one bus message and one MQTT message.
inline constexpr size_t kMaxConfigText = 64 * 1024;

struct ConfigDocument {
	std::string json;  // compact text of a JSON object
	std::string error; // why the text was refused; empty when json holds it
};

// Reads text as one JSON object; anything else (not JSON, trailing bytes,
// another JSON type, too deep, too large) is refused with the reason.
[[nodiscard]] ConfigDocument read_config(std::string_view text);

// Merges the documents (each a compact JSON object, as read_config gives
// them) in order; null when one cannot be read or the result is too large.
[[nodiscard]] std::optional<std::string> merge_configs(const std::vector<std::string> &documents);

} // namespace fleet
