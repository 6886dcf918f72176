// Running a platform service stand-in.
#include "run_service.h"

#include <wlc/log.h>

#include <string>
#include <unistd.h>

namespace sim {

int run_service(const char *ident, int argc, char **argv, wlc::BusObject &object)
{
	return run_service(ident, argc, argv, std::vector<wlc::BusObject *>{&object});
}

int run_service(const char *ident, int argc, char **argv, const std::vector<wlc::BusObject *> &objects)
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
		bool ok = bus.connect(socket);
		for (wlc::BusObject *object : objects)
			ok = ok && object->add(bus) == UBUS_STATUS_OK;
		if (!ok) {
			wlc::logf(LOG_ERR, "Failed to connect to ubus");
			ret = 1;
		} else {
			bus.watch();
			bus.on_lost([] { uloop_end(); });
			uloop_run();
		}
		for (wlc::BusObject *object : objects)
			object->remove();
	}
	uloop_done();
	wlc::log_close();
	return ret;
}

} // namespace sim
