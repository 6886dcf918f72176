// sim_ap_mqtt: the AP side of the management daemon as far as the other AP
// daemons need it, without the controller search and join (for measuring
// the roaming path alone): the broker connection with its bridge object
// "mqtt.wlc" and, on every connection, the IAPP (and RRM) subscriptions
// relaying to the local objects. It is made of mast's own MQTT
// instance, bridge, options and relay code; only the controller search, join
// and adoption are left out (the broker is given, plain, with -h).
//   sim_ap_mqtt -h <host>:<port> [-s site] [-w wlan]... [-g radio:site]...
#include <wlc/bus.h>
#include <wlc/log.h>
#include <zev/devinfo.h>

#include <memory>

#include "core/options.h"
#include "mqtt/instance.h"
#include "relay/relays.h"

namespace {

int serve(const mast::Options &opts, wlc::Bus &bus)
{
	std::string own_id = zev_devinfo_id();
	mast::MqttConfig cfg;
	cfg.name = "wlc";
	cfg.client_id = own_id;
	cfg.host = opts.brokers.front().host;
	cfg.port = opts.brokers.front().port > 0 ? opts.brokers.front().port : 1883;
	cfg.keepalive = 30;
	auto inst = mast::MqttInstance::create(cfg, std::nullopt, bus);
	if (!inst) {
		wlc::logf(LOG_ERR, "Failed to create MQTT-instance");
		return -1;
	}
	inst->on_connect([&] {
		wlc::logf(LOG_DEBUG, "Connected");
		mast::iapp_subscribe(opts, own_id, bus, *inst);
		mast::rrm_subscribe(opts, own_id, bus, *inst);
	});
	uloop_run();
	return 0;
}

} // namespace

int main(int argc, char **argv)
{
	wlc::log_open("mast");
	int result = -1;
	{
		wlc::Bus bus;
		std::optional<mast::Options> opts = mast::parse_options(argc, argv);
		if (!bus.connect()) {
			wlc::logf(LOG_ERR, "Failed to connect to ubus");
		} else if (!opts || opts->brokers.empty()) {
			wlc::logf(LOG_ERR, "Failed to read config");
		} else {
			uloop_init();
			bus.watch();
			result = serve(*opts, bus);
			bus.close();
			uloop_done();
		}
	}
	wlc::log_close();
	return result == 0 ? 0 : 255;
}
