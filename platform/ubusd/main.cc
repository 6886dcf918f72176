// ubusd: the bus daemon. Usage: ubusd [-s <socket>]
#include <wlc/c/ubus.h>

#include <fsroot/fsroot.h>
#include <wlc/platform_values.h>

#include <cstdio>
#include <unistd.h>

#include "daemon.h"

int main(int argc, char **argv)
{
	std::string path = wlc::root_path(wlc::platform::kBusSocket);
	int ch;
	while ((ch = getopt(argc, argv, "s:")) != -1) {
		switch (ch) {
		case 's':
			path = optarg;
			break;
		default:
			std::fprintf(stderr, "Usage: %s [-s <socket>]\n", argv[0]);
			return 1;
		}
	}
	uloop_init();
	int ret = 0;
	{
		ubusd::Daemon daemon;
		if (!daemon.listen(path)) {
			std::fprintf(stderr, "Failed to bind to socket %s\n", path.c_str());
			ret = 1;
		} else {
			uloop_run();
		}
	}
	uloop_done();
	return ret;
}
