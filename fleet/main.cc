// fleetd: the controller's management service. It keeps the AP inventory,
// serves "db.ap" to the controller's mast, approves joins per site and
// serves the operator's "fleet" object.
#include <wlc/bus.h>
#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include "approval/join_response.h"
#include "approval/lifecycle.h"
#include "dbap/db_ap.h"
#include "inventory/store.h"
#include "operator/fleet_object.h"
#include "options.h"

namespace {

int serve(const fleet::Options &opts, fleet::Inventory &inventory)
{
	wlc::Bus bus;
	if (!bus.connect(opts.socket)) {
		wlc::logf(LOG_ERR, "Failed to connect to ubus");
		return 1;
	}
	fleet::Publisher publisher(bus);
	fleet::Lifecycle lifecycle(inventory, opts.policy, opts.site,
				   [&publisher](const std::string &id) { (void)fleet::send_join_response(publisher, id); });
	fleet::DbApObject db(lifecycle);
	fleet::FleetObject fleet_object(inventory, lifecycle, publisher, opts.site);
	if (db.add(bus) != UBUS_STATUS_OK || fleet_object.add(bus) != UBUS_STATUS_OK) {
		wlc::logf(LOG_ERR, "Failed to init ubus objects");
		return 1;
	}
	bus.watch();
	wlc::logf(LOG_NOTICE, "Serving %lld APs", static_cast<long long>(inventory.count()));
	uloop_run();
	fleet_object.remove();
	db.remove();
	return 0;
}

int run(int argc, char **argv)
{
	std::optional<fleet::Options> opts = fleet::parse_options(argc, argv);
	if (!opts)
		return 1;
	std::string path = wlc::root_path(opts->database);
	std::string error;
	std::optional<fleet::OpenedStore> store = fleet::open_store(path, error);
	if (!store) {
		wlc::logf(LOG_ERR, "Failed to open inventory: %s", error.c_str());
		return 1;
	}
	fleet::Inventory inventory(std::move(store->db));
	uloop_init();
	int rc = serve(*opts, inventory);
	uloop_done();
	return rc;
}

} // namespace

int main(int argc, char **argv)
{
	wlc::log_open("fleetd");
	wlc::logf(LOG_INFO, "Starting fleetd");
	int rc = run(argc, argv);
	wlc::logf(LOG_INFO, "Stop fleetd");
	wlc::log_close();
	return rc;
}
