// Running a platform service stand-in.
#include "run_service.h"

#include <wlc/log.h>

#include <string>
#include <unistd.h>

namespace sim {

int run_service(const char *ident, int argc, char **argv, wlc::BusObject &object)
{
	std::string socket;
	int ch;
	while ((ch = getopt(argc, argv, "s:")) != -1) {
		if (ch != 's')
			return 1;
		socket = optarg;
	}
	wlc::log_open(ident);
	uloop_init();
	int ret = 0;
	{
		wlc::Bus bus;
		if (!bus.connect(socket) || object.add(bus) != UBUS_STATUS_OK) {
			wlc::logf(LOG_ERR, "Failed to connect to ubus");
			ret = 1;
		} else {
			bus.watch();
			bus.on_lost([] { uloop_end(); });
			uloop_run();
		}
		object.remove();
	}
	uloop_done();
	wlc::log_close();
	return ret;
}

} // namespace sim
