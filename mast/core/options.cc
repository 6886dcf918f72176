// Reading mast's command line.
#include "options.h"

#include <wlc/log.h>

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace mast {

namespace {

BrokerAddress parse_broker(const char *arg)
{
	BrokerAddress b;
	const char *colon = std::strchr(arg, ':');
	b.host = colon ? std::string(arg, colon) : std::string(arg);
	b.port = colon ? std::atoi(colon + 1) : 0;
	return b;
}

// "radio:site"; an argument without a colon cannot form an entry.
std::optional<RrmAgentEntry> parse_rrm_agent(const char *arg)
{
	const char *colon = std::strchr(arg, ':');
	if (!colon)
		return std::nullopt;
	RrmAgentEntry e;
	e.radio = static_cast<uint8_t>(std::atoi(arg));
	e.site = colon + 1;
	return e;
}

template <typename T>
void push_front(std::vector<T> &list, T item)
{
	list.insert(list.begin(), std::move(item));
}

bool apply(Options &o, int opt, const char *arg)
{
	switch (opt) {
	case 'r':
		if (std::strcmp(arg, "wlc") == 0) {
			o.role = Role::Wlc;
		} else if (std::strcmp(arg, "ap") == 0) {
			o.role = Role::Ap;
		} else {
			wlc::logf(LOG_ERR, "config: unknown role '%s'", arg);
			return false;
		}
		wlc::logf(LOG_DEBUG, "config: role = %s", arg);
		return true;
	case 'a':
		o.adopted = true;
		wlc::logf(LOG_DEBUG, "config: adopted = true");
		return true;
	case 'h': {
		BrokerAddress b = parse_broker(arg);
		wlc::logf(LOG_DEBUG, "config: broker host = %s", b.host.c_str());
		if (b.port > 0)
			wlc::logf(LOG_DEBUG, "config: broker port = %d", b.port);
		push_front(o.brokers, b);
		return true;
	}
	case 'u':
		o.username = arg;
		wlc::logf(LOG_DEBUG, "config: username = %s", arg);
		return true;
	case 'p':
		// The password itself never goes to the log.
		o.password = arg;
		wlc::logf(LOG_DEBUG, "config: password = %s", "********");
		return true;
	case 's':
		o.site = arg;
		wlc::logf(LOG_DEBUG, "config: site = %s", arg);
		return true;
	case 'w':
		push_front(o.wlans, std::string(arg));
		wlc::logf(LOG_DEBUG, "config: WLAN = %s", arg);
		return true;
	case 'f':
		o.enforced_auth = true;
		wlc::logf(LOG_DEBUG, "config: enforced_auth = true");
		return true;
	case 'm':
		push_front(o.rrm_ctrl_sites, std::string(arg));
		wlc::logf(LOG_DEBUG, "config: RRM controller site = %s", arg);
		return true;
	case 'g': {
		auto e = parse_rrm_agent(arg);
		if (!e)
			return false;
		wlc::logf(LOG_DEBUG, "config: RRM agent radio = %d, site = %s", e->radio, e->site.c_str());
		push_front(o.rrm_agents, *e);
		return true;
	}
	case 'd':
		o.draft = true;
		wlc::logf(LOG_DEBUG, "config: draft = true");
		return true;
	default:
		return false;
	}
}

} // namespace

std::optional<Options> parse_options(int argc, char **argv)
{
	Options o;
	optind = 0; // a full restart of the parser (glibc)
	int opt;
	while ((opt = getopt(argc, argv, "r:ah:u:p:s:w:fm:g:d")) != -1)
		if (!apply(o, opt, optarg))
			return std::nullopt;
	return o;
}

} // namespace mast
