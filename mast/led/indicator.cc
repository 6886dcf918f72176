// The LED indicator through the device library.
#include "indicator.h"

#include <zev/util.h>
#include <zev/wifi.h>

#include <cstdlib>

namespace mast {

namespace {

constexpr const char *kLed = "sys";

int add_stations(const zev_wifi_iface *iface, void *user)
{
	if (zev_wifi_sta_list *list = zev_wifi_iface_stations(iface->ifname)) {
		*static_cast<uint64_t *>(user) += list->count;
		std::free(list);
	}
	return 0;
}

} // namespace

uint64_t count_stations()
{
	uint64_t n = 0;
	zev_wifi_iface_iter(add_stations, &n);
	return n;
}

LedIndicator &LedIndicator::instance()
{
	static LedIndicator led;
	return led;
}

LedIndicator::LedIndicator() : timer_([this] { check(); }) {}

void LedIndicator::set_const(Colour c)
{
	zev_led_set_const(kLed, c.red, c.green, c.blue);
}

void LedIndicator::start_station_blink(Colour c, uint32_t base_period_ms, uint32_t check_interval_ms)
{
	colour_ = c;
	base_period_ = base_period_ms;
	interval_ = check_interval_ms;
	last_period_ = 0;
	timer_.set(static_cast<int>(interval_));
}

void LedIndicator::stop_station_blink()
{
	timer_.cancel();
}

uint32_t LedIndicator::period_for(uint64_t stations, uint32_t base_period_ms)
{
	if (stations == 0)
		return 0;
	if (stations <= 4)
		return base_period_ms;
	if (stations <= 16)
		return base_period_ms >> 1;
	return base_period_ms >> 2;
}

void LedIndicator::check()
{
	uint32_t period = period_for(count_stations(), base_period_);
	if (period != last_period_) {
		last_period_ = period;
		if (period == 0)
			zev_led_set_const(kLed, colour_.red, colour_.green, colour_.blue);
		else
			zev_led_set_blink(kLed, colour_.red, colour_.green, colour_.blue, period, period);
	}
	timer_.set(static_cast<int>(interval_));
}

} // namespace mast
