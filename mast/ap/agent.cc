// The adopted agent.
#include "agent.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>
#include <zev/devinfo.h>

#include <strings.h>
#include <unistd.h>

#include "../bridge/bridge.h"
#include "../core/platform_command.h"
#include "../core/state_file.h"
#include "../led/indicator.h"
#include "../mqtt/readers.h"
#include "../relay/relays.h"
#include "agent_parts.h"
#include "identity.h"

namespace mast {

namespace {

constexpr Colour kYellow = {255, 255, 0};
constexpr Colour kGreen = {0, 255, 0};
constexpr int kKeepalive = 5;
constexpr int kOutageLimitMs = 60000;
constexpr int kApplyDelayMs = 10000;
constexpr int kVersionRetryMs = 1000;
constexpr auto kLastWordsLimit = std::chrono::milliseconds(2000);
constexpr const char *kApplyFile = "/tmp/ap_apply.config";
constexpr const char *kVersionTopic = "zev/wlc/firmware/version";

// A topic level must not become a wildcard or split into levels.
bool valid_topic_level(std::string_view level)
{
	return !level.empty() && level.find_first_of("+#/") == std::string_view::npos;
}

} // namespace

TlsSettings pinned_tls()
{
	TlsSettings tls;
	tls.cafile = wlc::root_path("/etc/wlc/mqtt_ca.crt");
	tls.certfile = wlc::root_path("/data/ssl/mqtt.crt");
	tls.keyfile = wlc::root_path("/data/ssl/mqtt.key");
	tls.tls_insecure = true;
	tls.verify_peer = true;
	return tls;
}

Agent::Agent(const Options &opts, wlc::Bus &bus, Status &status, std::function<void()> start_over)
	: opts_(opts), bus_(bus), status_(status), start_over_(std::move(start_over)), own_id_(zev_devinfo_id()),
	  disconnect_timer_([this] {
		  wlc::logf(LOG_INFO, "Too long disconnection, starting over");
		  if (start_over_)
			  start_over_();
	  }),
	  version_retry_([this] { subscribe_version(); }), apply_timer_([this] { apply(); })
{
}

Agent::~Agent()
{
	stop();
}

std::vector<BrokerAddress> Agent::peer() const
{
	return {{host_.substr(0, 63), port_}};
}

int Agent::start(const std::string &host, int32_t port)
{
	wlc::logf(LOG_NOTICE, "Start adopted agent");
	started_ = true;
	host_ = host.substr(0, 127);
	port_ = port;
	MqttConfig cfg;
	cfg.name = "wlc";
	cfg.client_id = own_id_;
	cfg.host = host_;
	cfg.port = port_;
	cfg.keepalive = kKeepalive;
	inst_ = MqttInstance::create(cfg, pinned_tls(), bus_);
	if (!inst_) {
		wlc::logf(LOG_ERR, "Failed to create MQTT-instance");
		return -1;
	}
	inst_->on_connect([this] { connected(); });
	inst_->on_disconnect([this] { disconnected(); });
	wlc::BlobBuf will;
	build_online(will, false);
	(void)inst_->set_will(online_topic(), will.head(), blob_raw_len(will.head()), 2, true);
	parts_ = std::make_unique<AgentParts>(bus_, *inst_, own_id_, host_, [this] { subscribe_version(); });
	wlc::logf(LOG_INFO, "Connecting to %s:%d", host_.c_str(), port_);
	status_.set("connect", "Connecting to %s", peer());
	LedIndicator::instance().set_const(kYellow);
	return 0;
}

void Agent::stop()
{
	LedIndicator::instance().stop_station_blink();
	disconnect_timer_.cancel();
	version_retry_.cancel();
	// Nothing that refers to the connection outlives it.
	parts_.reset();
	reconfig_id_.reset();
	if (inst_)
		say_offline_and_close();
	if (started_)
		wlc::logf(LOG_NOTICE, "Stop adopted agent");
	started_ = false;
}

void Agent::say_offline_and_close()
{
	inst_->on_connect(nullptr);
	inst_->on_disconnect(nullptr);
	wlc::logf(LOG_DEBUG, "Send ONLINE (%s) message", "false");
	wlc::BlobBuf offline;
	build_online(offline, false);
	(void)inst_->publish_flushed(online_topic(), offline.head(), blob_raw_len(offline.head()), 2, true,
				     kLastWordsLimit);
	inst_.reset();
}

void Agent::connected()
{
	wlc::logf(LOG_NOTICE, "Connected");
	wlc::logf(LOG_DEBUG, "Send ONLINE (%s) message", "true");
	wlc::BlobBuf online;
	build_online(online, true);
	(void)inst_->publish(online_topic(), online.head(), blob_raw_len(online.head()), 2, true);
	subscribe_version();
	disconnect_timer_.cancel();
}

void Agent::disconnected()
{
	wlc::logf(LOG_NOTICE, "Disconnected");
	LedIndicator::instance().stop_station_blink();
	LedIndicator::instance().set_const(kYellow);
	if (parts_)
		parts_->connection_lost();
	disconnect_timer_.set(kOutageLimitMs);
}

void Agent::subscribe_version()
{
	(void)inst_->subscribe(kVersionTopic, 2,
			       [this](const TopicLevels &, const void *p, size_t l) { version(p, l); });
}

// A VERSION that cannot be used is asked for again after a pause: the broker
// hands its retained one over at once, so an immediate re-subscription would
// spin on a bad retained message.
void Agent::subscribe_version_later()
{
	version_retry_.set(kVersionRetryMs);
}

void Agent::bad_version()
{
	wlc::logf(LOG_ERR, "Bad VERSION message!");
	subscribe_version_later();
}

void Agent::version(const void *payload, size_t len)
{
	wlc::logf(LOG_NOTICE, "Receive VERSION message");
	std::optional<VersionMessage> m = read_version(payload, len);
	if (!m) {
		bad_version();
		return;
	}
	parts_->log_stream_start();
	wlc::logf(LOG_DEBUG, "Check VERSION '%s' value", "revision");
	if (!m->revision) {
		wlc::logf(LOG_ERR, "Missing '%s' field in VERSION message", "revision");
		bad_version();
		return;
	}
	const char *own = zev_devinfo_fw_revision();
	if (strcasecmp(m->revision->c_str(), own) == 0) {
		wlc::logf(LOG_DEBUG, "Same %s", "revision");
		adopted();
		return;
	}
	wlc::logf(LOG_DEBUG, "Mismatch %ss: I am '%s' and WLC is '%s'", "revision", own, m->revision->c_str());
	if (!valid_topic_level(m->version)) {
		wlc::logf(LOG_ERR, "Unusable version '%s' in VERSION message", m->version.c_str());
		bad_version();
		return;
	}
	firmware_wait(m->version);
}

void Agent::firmware_wait(const std::string &version)
{
	wlc::logf(LOG_INFO, "Status: FW_UPDATE");
	std::string topic = "zev/wlc/firmware/" + version + "/" + zev_devinfo_model();
	AgentParts *parts = parts_.get();
	(void)inst_->subscribe(topic, 2, [parts](const TopicLevels &t, const void *p, size_t l) {
		parts->firmware(t, p, l);
	});
	wlc::logf(LOG_DEBUG, "Waiting for FIRMWARE message from topic %s...", topic.c_str());
	status_.set("fw_update", "Wait for FIRMWARE UPDATE from %s", peer());
}

void Agent::adopted()
{
	wlc::logf(LOG_INFO, "Status: ADOPTED");
	LedIndicator::instance().set_const(kGreen);
	LedIndicator::instance().start_station_blink(kGreen, 2000, 4000);
	status_.set("adopted", "ADOPTED to %s", peer());
	wlc::logf(LOG_INFO, "waiting for CONFIG message");
	std::string ap = "zev/wlc/control/ap/" + own_id_ + "/";
	std::string request = "zev/wlc/telemetry/ap/" + own_id_ + "/request/";
	auto sub = [this](const std::string &topic, MqttInstance::Handler h) { (void)inst_->subscribe(topic, 2, std::move(h)); };
	sub("zev/wlc/config/ap/" + own_id_ + "/config", [this](const TopicLevels &, const void *p, size_t l) { config(p, l); });
	sub(ap + "reset", [this](const TopicLevels &, const void *, size_t) {
		command("RESET", {{"firstboot", "-y"}, {"reboot"}});
	});
	auto reboot = [this](const TopicLevels &, const void *, size_t) { command("REBOOT", {{"reboot"}}); };
	sub(ap + "reboot", reboot);
	sub("zev/wlc/control/ap/all/reboot", reboot);
	AgentParts *parts = parts_.get();
	sub(request + "ubus", [parts](const TopicLevels &, const void *p, size_t l) { parts->telemetry(p, l); });
	sub(request + "reconfig", [this](const TopicLevels &, const void *p, size_t l) { reconfig(p, l); });
	if (opts_.enforced_auth)
		(void)inst_->bridge().command_subscription("zev/wlc/enforced_auth", 2, "ap_enforced_auth");
	iapp_subscribe(opts_, own_id_, bus_, *inst_);
	rrm_subscribe(opts_, own_id_, bus_, *inst_);
}

// Reset and reboot act on live commands only. A retained one was given
// before this subscription and is handed over again on every new one: acting
// on it would reset or reboot the AP in a loop. Clearing it on the broker
// instead would take an "all" reboot from the other APs, and the clearing
// itself would arrive as a new command.
void Agent::command(const char *what, const std::vector<std::vector<std::string>> &commands)
{
	if (inst_->last_retained()) {
		wlc::logf(LOG_WARNING, "Ignore retained %s message", what);
		return;
	}
	wlc::logf(LOG_WARNING, "Receive %s message", what);
	for (const auto &argv : commands)
		if (run_platform_command(argv) != 0)
			return;
}

void Agent::config(const void *payload, size_t len)
{
	std::optional<ConfigMessage> m = read_config(payload, len);
	if (!m) {
		wlc::logf(LOG_ERR, "received bad config message");
		return;
	}
	if (m->id != own_id_) {
		wlc::logf(LOG_ERR, "received config message for other AP: %s", m->id.c_str());
		return;
	}
	if (m->json.empty()) {
		wlc::logf(LOG_ERR, "failed to build JSON from received config");
		return;
	}
	if (!replace_file(kApplyFile, m->json)) {
		wlc::logf(LOG_ERR, "failed to dump JSON config to tmp file");
		return;
	}
	draft_ = m->draft;
	pending_path_ = kApplyFile;
	apply_timer_.set(kApplyDelayMs);
	wlc::logf(LOG_NOTICE, "receive config message, apply it in %d seconds", kApplyDelayMs / 1000);
	reconfig_notify();
}

void Agent::apply()
{
	wlc::logf(LOG_NOTICE, "apply received configuration");
	if (!pending_path_) {
		wlc::logf(LOG_ERR, "missing apply config file name");
		return;
	}
	std::string path = wlc::root_path(*pending_path_);
	std::vector<std::string> argv = {"ap_config_device"};
	if (draft_)
		argv.push_back("-d");
	argv.insert(argv.end(), {"-f", path});
	if (run_platform_command(argv) != 0)
		wlc::logf(LOG_ERR, "failed to apply config!");
	unlink(path.c_str());
	pending_path_.reset();
}

void Agent::reconfig(const void *payload, size_t len)
{
	std::optional<uint32_t> id = read_reconfig(payload, len);
	if (!id) {
		wlc::logf(LOG_WARNING, "recv bad reconfig request");
		return;
	}
	reconfig_id_ = id;
	reconfig_notify();
}

void Agent::reconfig_notify()
{
	if (!reconfig_id_ || !pending_path_ || !inst_)
		return;
	wlc::BlobBuf msg;
	msg.add_u32("msg_id", *reconfig_id_);
	(void)inst_->publish("zev/wlc/telemetry/ap/" + own_id_ + "/response/reconfig", msg.head(),
			     blob_raw_len(msg.head()), 2, true);
	wlc::logf(LOG_INFO, "notify controller about received config via reconfig comamnd response");
	reconfig_id_.reset();
}

} // namespace mast
