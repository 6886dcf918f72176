// The site view session service's files: access lists (acl.d) and logins.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void siteview_files_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
