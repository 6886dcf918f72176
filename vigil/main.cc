// vigil: the telemetry service of an access point.
//   vigil [-i ifname:bss:wlan]...
#include <wlc/bus.h>
#include <wlc/log.h>

#include <wlc/curl.h>

#include <memory>

#include "options.h"
#include "service.h"

int main(int argc, char **argv)
{
	wlc::log_open("vigil");
	{
		wlc::Bus bus;
		if (!bus.connect()) {
			wlc::logf(LOG_ERR, "Failed to connect to ubus");
		} else {
			vigil::WlanMap wlans = vigil::parse_options(argc, argv);
			uloop_init();
			bus.watch();
			auto service = std::make_unique<vigil::Service>(bus, std::move(wlans));
			if (service->start() != UBUS_STATUS_OK)
				wlc::logf(LOG_ERR, "Failed to init ubus methods");
			else
				uloop_run_timeout(-1);
			service->stop();
			service.reset();
			wlc::curl_release();
			bus.close();
			uloop_done();
		}
	}
	wlc::log_close();
	// The service only ends when told to or when it cannot run: never a success.
	return 255;
}
