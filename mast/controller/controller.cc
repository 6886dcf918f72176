// The controller role.
#include "controller.h"

#include <zev/devinfo.h>
#include <wlc/log.h>

#include "../bridge/bridge.h"
#include "../bridge/command_runner.h"
#include "../core/bus_calls.h"
#include "../led/indicator.h"
#include "../mqtt/readers.h"
#include "../relay/relays.h"

namespace mast {

namespace {

constexpr Colour kMagenta = {255, 0, 255};
constexpr Colour kBlue = {0, 0, 255};

std::string ap_of(const TopicLevels &topic)
{
	return topic.size() > 4 ? topic[4] : std::string();
}

} // namespace

Controller::Controller(const Options &opts, wlc::Bus &bus, Status &status) : opts_(opts), bus_(bus), status_(status) {}

Controller::~Controller()
{
	// The relay refers to the instance, which goes with the controller.
	log_relay_stop();
}

int Controller::start()
{
	wlc::logf(LOG_NOTICE, "Run controller");
	status_.set("wlc", "CONTROLLER");
	LedIndicator::instance().set_const(kMagenta);
	MqttConfig cfg;
	cfg.name = "wlc";
	cfg.client_id = "wlc";
	cfg.host = "localhost";
	cfg.port = 1883;
	cfg.keepalive = 30;
	cfg.username = opts_.username.value_or("");
	cfg.password = opts_.password.value_or("");
	inst_ = MqttInstance::create(cfg, std::nullopt, bus_);
	if (!inst_) {
		wlc::logf(LOG_ERR, "Failed to create MQTT-instance");
		return -1;
	}
	inst_->on_connect([this] { connected(); });
	inst_->on_disconnect([this] { disconnected(); });
	wlc::logf(LOG_DEBUG, "Connecting to %s:%d", "localhost", 1883);
	return 0;
}

void stop_controller(std::unique_ptr<Controller> &controller)
{
	LedIndicator::instance().stop_station_blink();
	controller.reset();
	wlc::logf(LOG_NOTICE, "Finish controller");
}

void Controller::connected()
{
	wlc::logf(LOG_DEBUG, "Connected");
	LedIndicator::instance().set_const(kBlue);
	LedIndicator::instance().start_station_blink(kBlue, 2000, 4000);
	log_relay_start(bus_, *inst_);
	inst_->subscribe("zev/wlc/control/ap/+/join_request", 2,
			 [this](const TopicLevels &t, const void *p, size_t l) { join_request(t, p, l); });
	inst_->subscribe("zev/wlc/control/ap/+/online", 2,
			 [this](const TopicLevels &t, const void *p, size_t l) { presence(t, p, l); });
	// Responses are published retained: the ones handed over on subscription
	// answer requests of an earlier connection (or an earlier controller,
	// whose msg_ids were the same numbers) and must not complete new ones.
	Bridge *bridge = &inst_->bridge();
	MqttInstance *inst = inst_.get();
	inst_->subscribe("zev/wlc/telemetry/ap/+/response/+", 2,
			 [bridge, inst](const TopicLevels &t, const void *p, size_t l) {
				 if (!inst->last_retained())
					 bridge->handle_response(t, p, l);
			 });
	std::string own_id = zev_devinfo_id();
	iapp_subscribe(opts_, own_id, bus_, *inst_);
	rrm_subscribe(opts_, own_id, bus_, *inst_);
	CommandRunner::instance().run(opts_.draft ? "wlc_init -d" : "wlc_init", "");
}

void Controller::disconnected()
{
	LedIndicator::instance().stop_station_blink();
	wlc::logf(LOG_DEBUG, "Disconnected");
	LedIndicator::instance().set_const(kMagenta);
	log_relay_stop();
}

void Controller::join_request(const TopicLevels &topic, const void *payload, size_t len)
{
	std::string ap = ap_of(topic);
	wlc::logf(LOG_DEBUG, "Receive JOIN_REQ from %s", ap.c_str());
	wlc::BlobBuf rec;
	switch (read_join_request(ap, payload, len, rec)) {
	case JoinRead::missing_payload:
		wlc::logf(LOG_NOTICE, "Bad JOIN_REQ from %s: missing payload", ap.c_str());
		return;
	case JoinRead::not_enough_data:
		wlc::logf(LOG_NOTICE, "Bad JOIN_REQ from %s: not enough data", ap.c_str());
		return;
	case JoinRead::ok:
		break;
	}
	// The database's id is kept between messages (a look-up is a blocking
	// round trip, too dear for every join of a fleet coming back at once).
	auto missing = [] { wlc::logf(LOG_DEBUG, "Missing database ubus object"); };
	if (!call_nowait(bus_, "db.ap", "set", std::move(rec), missing))
		missing();
}

void Controller::presence(const TopicLevels &topic, const void *payload, size_t len)
{
	std::string ap = ap_of(topic);
	wlc::BlobBuf rec;
	bool online = read_presence(ap, payload, len, rec);
	if (!call_nowait(bus_, "db.ap", "set", std::move(rec)))
		return;
	wlc::logf(LOG_DEBUG, "AP %s is %s", ap.c_str(), online ? "online" : "offline");
}

} // namespace mast
