// Answers to the driver requests of one simulated AP, as the Wi-Fi, network
// and MTD drivers would give them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "../world/world.h"

namespace sim {

struct DriverAnswer {
	int result = 0;
	int error = 0;
	std::vector<uint8_t> ifr;  // the request structure as the driver leaves it
	std::vector<uint8_t> data; // the buffer behind its data pointer
};

// Things a request starts that happen later (scans) or that others must hear (events).
struct DriverEffects {
	std::function<void(const std::string &ifname, int channel, int duration_ms)> scan;
	std::function<void(std::vector<uint8_t> datagram)> event;
};

DriverAnswer answer_request(World &world, Ap &ap, uint32_t request, const std::vector<uint8_t> &ifr,
			    const std::vector<uint8_t> &data, const DriverEffects &effects);

// The station table of an interface in the driver's 60936-byte layout.
std::vector<uint8_t> station_table(const std::vector<Station> &stations);

} // namespace sim
