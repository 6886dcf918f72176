// The wall clock in whole seconds since the epoch, as the inventory and the
// services that write to it record times.
#pragma once

#include <cstdint>

namespace fleet {

int64_t system_seconds();

} // namespace fleet
