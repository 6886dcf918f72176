// siteview_session: the bus's "session" service for hosts without the
// platform's session daemon (the simulated site and its tests).
//   siteview_session [-s socket] [-l /etc/siteview/logins.json] [-a /usr/share/rpcd/acl.d] [-t timeout]
#include <wlc/bus.h>
#include <wlc/log.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

#include "session_object.h"

namespace {

struct Options {
	std::string socket;
	siteview::SessionSettings settings;
};

bool parse(int argc, char **argv, Options &o)
{
	int ch;
	while ((ch = getopt(argc, argv, "s:l:a:t:")) != -1) {
		switch (ch) {
		case 's': o.socket = optarg; break;
		case 'l': o.settings.logins_file = optarg; break;
		case 'a': o.settings.acl_dir = optarg; break;
		case 't':
			o.settings.default_timeout = std::atoi(optarg);
			if (o.settings.default_timeout <= 0)
				return false;
			break;
		default: return false;
		}
	}
	return optind == argc;
}

} // namespace

int main(int argc, char **argv)
{
	Options o;
	if (!parse(argc, argv, o)) {
		std::fprintf(stderr, "Usage: %s [-s socket] [-l logins.json] [-a acl-dir] [-t timeout]\n", argv[0]);
		return 1;
	}
	wlc::log_open("siteview_session");
	uloop_init();
	int ret = 0;
	{
		siteview::SessionService service(o.settings);
		wlc::Bus bus;
		if (!bus.connect(o.socket) || service.object().add(bus) != UBUS_STATUS_OK) {
			wlc::logf(LOG_ERR, "Failed to connect to ubus");
			ret = 1;
		} else {
			bus.watch();
			wlc::logf(LOG_NOTICE, "Serving \"session\"");
			uloop_run();
		}
		service.object().remove();
	}
	uloop_done();
	wlc::log_close();
	return ret;
}
