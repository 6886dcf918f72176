// mast: the management daemon of access points and controller.
#include <wlc/bus.h>
#include <wlc/log.h>

#include <memory>

#include "../controller/controller.h"
#include "options.h"
#include "status.h"

namespace {

// The AP roles (controller search, join and the adopted agent) are not part
// of this build yet: starting one fails cleanly.
int start_ap_role(const mast::Options &opts)
{
	wlc::logf(LOG_ERR, "The %s AP role is not available in this build", opts.adopted ? "adopted" : "unadopted");
	return -1;
}

} // namespace

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
					role = start_ap_role(*opts);
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
		bus.close();
		uloop_done();
	}
	wlc::log_close();
	return result == 0 ? 0 : 255;
}
