// A uci configuration file loaded through libuci, then every section and
// option looked up again by name, by type and index, and by lookup string.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

// The bytes are the file's text.
void uci_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
