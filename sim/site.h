// A simulated site: its devices, who hears whom and the channel loads, read
// from a JSON site file:
//   {"devices": [{"name": "ap1", "root": "/tmp/ap1", ...}, ...],
//    "hear": [{"a": "ap1", "b": "ap2", "rssi": -60}],
//    "load": [{"channel": 36, "busy": 40, "false_cca": 200}]}
#pragma once

#include <string>

#include "world/world.h"

namespace sim {

// Fills the world; false with a reason when the file does not hold together.
bool load_site(const std::string &path, World &world, std::string &why);

} // namespace sim
