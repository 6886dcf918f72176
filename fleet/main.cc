// fleetd: the controller's management service. It keeps the AP inventory,
// serves "db.ap" to the controller's mast, approves joins per site and
// serves the operator's "fleet" object.
#include <wlc/bus.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include "approval/join_response.h"
#include "approval/lifecycle.h"
#include "common/clock.h"
#include "config/pusher.h"
#include "firmware/rollout_engine.h"
#include "firmware/web_config.h"
#include "tap/broker_tap.h"
#include "tap/tap_messages.h"
#include "telemetry/poller.h"
#include "dbap/db_ap.h"
#include "inventory/store.h"
#include "operator/config_methods.h"
#include "operator/firmware_methods.h"
#include "operator/fleet_object.h"
#include "operator/tap_methods.h"
#include "operator/telemetry_methods.h"
#include "options.h"

namespace {

constexpr size_t kMaxPassword = 256;

// The first line of the password file (without a line end); nullopt (logged)
// when it cannot be read.
std::optional<std::string> read_password(const std::string &file)
{
	if (file.empty())
		return std::string();
	std::ifstream in(wlc::root_path(file));
	std::string line;
	if (!in || !std::getline(in, line) || line.size() > kMaxPassword) {
		wlc::logf(LOG_ERR, "Failed to read the broker password from %s", file.c_str());
		return std::nullopt;
	}
	if (!line.empty() && line.back() == '\r')
		line.pop_back();
	return line;
}

// The broker tap when -b asks for it; null when it is off.
std::unique_ptr<fleet::BrokerTap> start_tap(const fleet::Options &opts, const std::string &password,
					    fleet::TapStore &store)
{
	if (opts.tap_port == 0)
		return nullptr;
	fleet::TapSettings settings;
	settings.port = opts.tap_port;
	settings.username = opts.tap_user;
	settings.password = password;
	settings.filters = {{fleet::kLogFilter, 0}, {fleet::kCommandFilter, 1}};
	return fleet::BrokerTap::create(settings, [&store](const std::string &topic, const void *payload, size_t len) {
		fleet::take_tapped(store, topic, payload, len, fleet::system_seconds());
	});
}

int serve(const fleet::Options &opts, const std::string &password, fleet::Inventory &inventory)
{
	wlc::Bus bus;
	if (!bus.connect(opts.socket)) {
		wlc::logf(LOG_ERR, "Failed to connect to ubus");
		return 1;
	}
	fleet::Publisher publisher(bus);
	fleet::Lifecycle lifecycle(inventory, opts.policy, opts.site,
				   [&publisher](const std::string &id) { (void)fleet::send_join_response(publisher, id); });
	fleet::DbApObject db(lifecycle, inventory.raw());
	fleet::ConfigStore config_store(inventory.raw());
	fleet::ConfigPusher pusher(bus, config_store);
	fleet::ConfigMethods config_methods(inventory, config_store, [&pusher] { pusher.kick(); });
	fleet::RolloutStore rollouts(inventory.raw());
	fleet::RolloutEngine engine(bus, inventory, rollouts, {opts.https_port});
	fleet::FirmwareMethods firmware_methods(inventory, rollouts, wlc::root_path(opts.images), [&engine] { engine.kick(); });
	fleet::TelemetryStore telemetry;
	fleet::TelemetryPoller poller(bus, inventory, telemetry, {opts.telemetry_s});
	fleet::TelemetryMethods telemetry_methods(inventory, telemetry);
	fleet::TapStore tapped;
	std::unique_ptr<fleet::BrokerTap> tap = start_tap(opts, password, tapped);
	if (opts.tap_port != 0 && !tap)
		return 1;
	fleet::TapMethods tap_methods(tap ? &tapped : nullptr);
	std::vector<wlc::Method> more = config_methods.methods();
	for (std::vector<wlc::Method> part :
	     {firmware_methods.methods(), telemetry_methods.methods(), tap_methods.methods()})
		std::move(part.begin(), part.end(), std::back_inserter(more));
	fleet::FleetObject fleet_object(inventory, lifecycle, publisher, opts.site, std::move(more));
	if (db.add(bus) != UBUS_STATUS_OK || fleet_object.add(bus) != UBUS_STATUS_OK) {
		wlc::logf(LOG_ERR, "Failed to init ubus objects");
		return 1;
	}
	bus.watch();
	pusher.start();
	engine.start();
	poller.start();
	wlc::logf(LOG_NOTICE, "Serving %lld APs", static_cast<long long>(inventory.count()));
	uloop_run();
	fleet_object.remove();
	db.remove();
	return 0;
}

// The image server's configuration, when fleetd is asked to write it.
bool write_web_config(const fleet::Options &opts)
{
	if (opts.web_config.empty())
		return true;
	fleet::WebServerSettings web{wlc::root_path(opts.images), opts.https_port, "", wlc::root_path(opts.web_cert),
				     wlc::root_path(opts.web_key), "", ""};
	std::string error;
	if (!fleet::write_lighttpd_config(wlc::root_path(opts.web_config), web, error)) {
		wlc::logf(LOG_ERR, "Failed to write the web server configuration: %s", error.c_str());
		return false;
	}
	wlc::logf(LOG_NOTICE, "Web server configuration for %s on port %d in %s", opts.images.c_str(), opts.https_port,
		  opts.web_config.c_str());
	return true;
}

int run(int argc, char **argv)
{
	std::optional<fleet::Options> opts = fleet::parse_options(argc, argv);
	if (!opts || !write_web_config(*opts))
		return 1;
	std::optional<std::string> password = read_password(opts->tap_password_file);
	if (!password)
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
	int rc = serve(*opts, *password, inventory);
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
