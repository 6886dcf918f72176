// Option parsing.
#include "options.h"

#include <wlc/log.h>

#include <new>
#include <string_view>
#include <unistd.h>

#include "text.h"

namespace iapp {

namespace {

void bad_value(int opt, const char *value)
{
	wlc::logf(LOG_DEBUG, "Bad option '%c' value: '%s'", opt, value);
}

// "ifname:x:wlan": the text before the first ":" and after the second one.
// Names that cannot be used as they stand are refused like malformed values:
// an interface name the driver would cut, or a wlan name that is empty or
// would change the meaning of the topics it goes into.
void add_interface(Options &opts, const char *value)
{
	std::string_view v(value);
	size_t first = v.find(':');
	size_t second = first == std::string_view::npos ? first : v.find(':', first + 1);
	if (second == std::string_view::npos) {
		bad_value('i', value);
		return;
	}
	std::string_view ifname = v.substr(0, first);
	std::string_view wlan = v.substr(second + 1);
	if (ifname.empty() || ifname.size() > kMaxIfnameLen || !topic_level_ok(wlan)) {
		bad_value('i', value);
		return;
	}
	std::string name(ifname);
	std::string wlan_name(wlan);
	wlc::logf(LOG_DEBUG, "config: ifname %s runs wlan %s", name.c_str(), wlan_name.c_str());
	opts.wlan_of.insert_or_assign(std::move(name), std::move(wlan_name));
}

void set_site(Options &opts, const char *value)
{
	// The site is one level of the mobility-domain topics.
	if (!topic_level_ok(value)) {
		bad_value('s', value);
		return;
	}
	wlc::logf(LOG_DEBUG, "config: site = %s", value);
	opts.site = value;
}

} // namespace

std::optional<Options> parse_options(int argc, char **argv)
{
	Options opts;
	opterr = 0;
	optind = 0; // a full restart of the scan, also when parsed more than once
	int ch;
	while ((ch = getopt(argc, argv, "s:i:")) != -1) {
		try {
			if (ch == 's') {
				set_site(opts, optarg);
			} else if (ch == 'i') {
				add_interface(opts, optarg);
			} else {
				wlc::logf(LOG_ERR, "Unexpected option '%c'", ch == '?' ? optopt : ch);
				return std::nullopt;
			}
		} catch (const std::bad_alloc &) {
			wlc::logf(LOG_WARNING, "Failed to allocate memory for option '%c'", ch);
		}
	}
	return opts;
}

} // namespace iapp
