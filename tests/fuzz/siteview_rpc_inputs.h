// The site view gateway's reading of a request body: JSON-RPC requests and
// batches as a web client sends them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wlcfuzz {

void siteview_rpc_one_input(const uint8_t *data, size_t size);

} // namespace wlcfuzz
