// The system LED: a colour, and while the station blink runs, a blink rate
// that follows the number of associated wireless clients.
#pragma once

#include <wlc/loop.h>

#include <array>
#include <cstdint>

namespace mast {

struct Colour {
	uint8_t red, green, blue;
};

class LedIndicator {
public:
	static LedIndicator &instance();

	// Writes the colour at once (a running station blink goes on).
	void set_const(Colour c);
	// Every check interval: 0 clients steady, 1-4 the base period, 5-16 half
	// of it, more a quarter (on time = off time).
	void start_station_blink(Colour c, uint32_t base_period_ms, uint32_t check_interval_ms);
	void stop_station_blink();

	// The blink period for a client count (0: steady).
	static uint32_t period_for(uint64_t stations, uint32_t base_period_ms);
	uint32_t last_period() const { return last_period_; }

private:
	LedIndicator();
	void check();

	Colour colour_ = {0, 0, 0};
	uint32_t base_period_ = 0;
	uint32_t interval_ = 0;
	uint32_t last_period_ = 0;
	wlc::Timer timer_;
};

// The number of stations on all wireless interfaces.
uint64_t count_stations();

} // namespace mast
