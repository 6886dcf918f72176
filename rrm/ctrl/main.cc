// rrm_ctrl: the RRM controller of one site and radio.
#include <wlc/bus.h>
#include <wlc/log.h>

#include <ctime>

#include "controller.h"

int main(int argc, char **argv)
{
	wlc::log_open("rrm_ctrl");
	wlc::logf(LOG_DEBUG, "Reading config...");
	std::optional<rrm::Config> cfg = rrm::parse_controller_config(rrm::arguments(argc, argv));
	if (cfg) {
		wlc::log_prefix(rrm::log_prefix(*cfg).c_str());
		uloop_init();
		wlc::Bus bus;
		if (!bus.connect()) {
			wlc::logf(LOG_ERR, "Failed to connect to ubus!");
		} else {
			rrm::Controller ctrl(*cfg, bus, [] { return static_cast<int64_t>(std::time(nullptr)); });
			if (ctrl.start() != 0) {
				wlc::logf(LOG_ERR, "Failed to add ubus object");
			} else {
				bus.watch();
				wlc::logf(LOG_INFO, "Running RRM controller daemon");
				uloop_run();
			}
		}
		bus.close();
		uloop_done();
	}
	wlc::logf(LOG_INFO, "Stop RRM controller daemon");
	wlc::log_close();
	return 255;
}
