// Allocation failure on demand, for the paths that handle running out of
// memory: the test program's operator new fails once for one size.
#pragma once

#include <atomic>
#include <cstddef>

namespace wlctest {

// The next allocation of exactly this many bytes fails (std::bad_alloc),
// and this goes back to 0; 0 fails nothing.
extern std::atomic<size_t> fail_allocation_of;

} // namespace wlctest
