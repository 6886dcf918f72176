// The timed aggressive-mode switch of both RRM daemons: enabled for a number
// of seconds (a new enable re-arms it), ended by a disable or by its timeout.
#pragma once

#include <wlc/c/ubox.h>
#include <wlc/loop.h>

#include <cstdint>
#include <functional>
#include <optional>

namespace rrm {

// The longest timeout the timer can hold, in seconds.
inline constexpr int64_t max_mode_timeout_s = INT32_MAX / 1000;

// Seconds as event-loop milliseconds: negative counts as 0; nullopt when too long.
[[nodiscard]] std::optional<int> seconds_to_ms(int64_t s);

class ModeTimer {
public:
	struct Callbacks {
		std::function<void()> on_enter;
		std::function<void(bool timed_out)> on_leave;
		std::function<void(int timeout_s)> on_refresh; // may be empty
	};

	explicit ModeTimer(Callbacks cb);

	[[nodiscard]] bool active() const { return timer_.pending(); }
	// Enables, or re-arms an enabled mode; false when the timeout is out of range.
	bool enable(int64_t timeout_s);
	// Ends the mode (not timed out); nothing when it is off.
	void disable();
	// The "agressive" method: {"enable": BOOL, "timeout": INT32 s}; a bus status.
	[[nodiscard]] int handle(blob_attr *msg);

private:
	Callbacks cb_;
	wlc::Timer timer_;
};

} // namespace rrm
