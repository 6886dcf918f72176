// Calls out whose replies nobody waits for: each is kept until it ends, and
// given up (aborted) when it stays unanswered too long, so a callee that never
// answers cannot make them pile up.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

#include "bus.h"
#include "loop.h"

namespace wlc {

class CallsInFlight {
public:
	// max: the most kept at once; past it, the oldest call is given up.
	explicit CallsInFlight(std::chrono::seconds give_up, size_t max = SIZE_MAX);
	CallsInFlight(const CallsInFlight &) = delete;
	CallsInFlight &operator=(const CallsInFlight &) = delete;

	// Invokes method of object id with msg; done (if any) gets the final
	// status, unless the call is given up. False when the call cannot be made.
	[[nodiscard]] bool call(Bus &bus, uint32_t id, const std::string &method, const BlobBuf &msg,
				std::function<void(int status)> done = nullptr);
	[[nodiscard]] size_t size() const { return flights_.size(); }

private:
	struct Flight {
		AsyncCall call;
		std::chrono::steady_clock::time_point started;
	};
	// Frees ended calls (outside their own callbacks) and gives up old ones.
	void reap();

	std::chrono::seconds give_up_;
	size_t max_;
	std::list<std::unique_ptr<Flight>> flights_;
	Timer reaper_{[this] { reap(); }};
};

} // namespace wlc
