// Reading vigil's command line.
#include "options.h"

#include <wlc/log.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace vigil {

namespace {

// "ifname:bss:wlan"; the WLAN name is everything after the second ':'.
void add_wlan(WlanMap &map, const char *value)
{
	const char *first = std::strchr(value, ':');
	const char *second = first ? std::strchr(first + 1, ':') : nullptr;
	if (!second) {
		wlc::logf(LOG_DEBUG, "Bad option '%c' value: '%s'", 'i', value);
		return;
	}
	std::string ifname(value, first);
	std::string index(first + 1, second);
	WlanIface entry;
	entry.bss_index = static_cast<int>(std::strtoul(index.c_str(), nullptr, 10));
	entry.wlan = second + 1;
	wlc::logf(LOG_DEBUG, "config: ifname %s runs bssid %d wlan %s", ifname.c_str(), entry.bss_index,
		  entry.wlan.c_str());
	map[ifname] = std::move(entry);
}

} // namespace

WlanMap parse_options(int argc, char **argv)
{
	WlanMap map;
	optind = 1;
	opterr = 0; // unknown options are ignored, not reported
	int ch;
	while ((ch = getopt(argc, argv, "i:")) != -1) {
		if (ch == 'i')
			add_wlan(map, optarg);
	}
	return map;
}

} // namespace vigil
