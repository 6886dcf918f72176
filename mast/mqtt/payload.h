// Message payloads (one blob attribute) and topic levels.
#pragma once

#include <wlc/c/ubox.h>

#include <cstddef>
#include <string>
#include <vector>

namespace mast {

// The payload's attribute when it holds together: at least a header, a
// declared length within the payload and no shorter than its own headers
// (bytes after it are ignored); null otherwise.
blob_attr *payload_check(const void *payload, size_t len);

// A received topic split at "/" (level 0 is "zev").
using TopicLevels = std::vector<std::string>;

TopicLevels split_topic(const std::string &topic);

// The levels joined again with "/" within limit characters: a level that does
// not fit whole is left off together with all later ones.
std::string join_topic(const TopicLevels &levels, size_t limit);

} // namespace mast
