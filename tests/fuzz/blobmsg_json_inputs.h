// JSON text loaded into blobmsg (as the bus tool and the daemons load
// arguments and files), rendered back, loaded and rendered again: the second
// rendering must equal the first.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void blobmsg_json_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
