// The wall clock in seconds.
#include "clock.h"

#include <chrono>

namespace fleet {

int64_t system_seconds()
{
	using namespace std::chrono;
	return duration_cast<seconds>(system_clock::now().time_since_epoch()).count();
}

} // namespace fleet
