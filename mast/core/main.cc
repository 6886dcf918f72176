// mast: the management daemon of access points and controller.
#include <wlc/bus.h>
#include <wlc/log.h>

#include <memory>

#include "../ap/ap_role.h"
#include "../controller/controller.h"
#include "options.h"
#include "status.h"

int main(int argc, char **argv)
{
	wlc::log_open("mast");
	int result = 0;
	{
		wlc::Bus bus;
		bool bus_ok = bus.connect();
		std::optional<mast::Options> opts = mast::parse_options(argc, argv);
		std::unique_ptr<mast::Status> status;
		std::unique_ptr<mast::Controller> controller;
		std::unique_ptr<mast::ApRole> ap;
		if (!bus_ok) {
			wlc::logf(LOG_ERR, "Failed to connect to ubus");
			result = -1;
		} else if (!opts) {
			wlc::logf(LOG_ERR, "Failed to read config");
			result = -1;
		} else {
			uloop_init();
			bus.watch();
			status = std::make_unique<mast::Status>(opts->role);
			if (status->add(bus) != UBUS_STATUS_OK) {
				wlc::logf(LOG_ERR, "Failed to init status");
				result = -1;
			} else {
				int role = 0;
				if (opts->role == mast::Role::Wlc) {
					controller = std::make_unique<mast::Controller>(*opts, bus, *status);
					role = controller->start();
				} else {
					ap = std::make_unique<mast::ApRole>(*opts, bus, *status);
					role = ap->start();
				}
				if (role != 0) {
					wlc::logf(LOG_ERR, "Failed to init role");
					result = role;
				} else {
					uloop_run();
				}
			}
		}
		// Shut-down: status object, role, bus.
		if (status)
			status->remove();
		status.reset();
		if (opts && opts->role == mast::Role::Wlc)
			mast::stop_controller(controller);
		// Whatever the AP reached (search or agent) is stopped: an AP that
		// joined in this run announces itself offline like an adopted one.
		if (ap)
			ap->stop();
		ap.reset();
		bus.close();
		uloop_done();
	}
	wlc::log_close();
	return result == 0 ? 0 : 255;
}
