// vigil's command line: the WLAN interfaces it reports (-i ifname:bss:wlan).
#pragma once

#include <map>
#include <string>

namespace vigil {

struct WlanIface {
	int bss_index = 0;
	std::string wlan;
};

// Keyed by network interface name; a later -i for the same name replaces the earlier one.
using WlanMap = std::map<std::string, WlanIface>;

// Reads the options; never fails (bad values are logged and skipped).
WlanMap parse_options(int argc, char **argv);

} // namespace vigil
