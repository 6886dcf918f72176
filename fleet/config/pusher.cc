// Configuration pushes.
#include "pusher.h"

#include "common/clock.h"

#include <wlc/log.h>

#include <chrono>

#include "config/merge.h"

namespace fleet {

namespace {

} // namespace

ConfigPusher::ConfigPusher(wlc::Bus &bus, ConfigStore &store, PushTiming timing)
	: bus_(bus), store_(store), timing_(timing),
	  calls_(std::chrono::seconds(timing.answer_ms / 1000 + 30), 4096)
{
}

void ConfigPusher::start()
{
	timer_.set(timing_.round_ms);
}

void ConfigPusher::kick()
{
	timer_.set(0);
}

void ConfigPusher::round()
{
	timer_.set(timing_.round_ms);
	if (!bus_.lookup("mqtt.wlc"))
		return;
	auto stale = std::chrono::steady_clock::now() - std::chrono::milliseconds(2 * timing_.answer_ms);
	std::erase_if(asking_, [stale](const auto &a) { return a.second < stale; });
	for (const PendingConfig &ap : store_.pending(system_seconds() - timing_.resend_after_s, timing_.per_round)) {
		if (!asking_.contains(ap.id))
			push(ap);
	}
}

void ConfigPusher::push(const PendingConfig &ap)
{
	uint32_t bridge = bus_.lookup("mqtt.wlc");
	EffectiveConfig e = store_.effective(ap.id, ap.site);
	std::optional<std::string> merged = merge_configs(e.documents);
	if (e.version == 0 || !bridge)
		return;
	if (!merged) {
		// Each document was checked on its way in; only their sum can be too large.
		wlc::logf(LOG_ERR, "Configuration version %lld of %s is too large to send", static_cast<long long>(e.version),
			  ap.id.c_str());
		(void)store_.record_sent(ap.id, e.version);
		return;
	}
	if (!send_config(ap.id, e, *merged, bridge))
		return;
	if (!store_.record_sent(ap.id, e.version))
		wlc::logf(LOG_WARNING, "Configuration sent to %s not recorded", ap.id.c_str());
	ask(ap.id, e.version, bridge);
}

bool ConfigPusher::send_config(const std::string &id, const EffectiveConfig &e, const std::string &merged,
			       uint32_t bridge)
{
	wlc::BlobBuf args;
	args.add("path", "zev/wlc/config/ap/" + id + "/config");
	{
		auto message = args.table("message");
		args.add("id", id);
		{
			auto config = args.table("config");
			if (!args.add_json(merged))
				return false;
		}
		args.add_bool("draft", e.draft);
	}
	args.add_u32("qos", 2);
	args.add_bool("retain", false);
	std::string ap = id;
	bool sent = calls_.call(bus_, bridge, "send", args, [ap](int status) {
		if (status != UBUS_STATUS_OK)
			wlc::logf(LOG_WARNING, "CONFIG to %s not sent: status %d", ap.c_str(), status);
	});
	if (sent)
		wlc::logf(LOG_INFO, "Send CONFIG version %lld to %s%s", static_cast<long long>(e.version), id.c_str(),
			  e.draft ? " (draft)" : "");
	return sent;
}

void ConfigPusher::ask(const std::string &id, int64_t version, uint32_t bridge)
{
	wlc::BlobBuf args;
	args.add("ap_id", id).add("command", "reconfig").add_u32("qos", 2);
	args.add_u32("timeout", static_cast<uint32_t>(timing_.answer_ms));
	std::string ap = id;
	bool asked = calls_.call(bus_, bridge, "request_response", args, [this, ap, version](int status) {
		asking_.erase(ap);
		if (status != UBUS_STATUS_OK) {
			wlc::logf(LOG_INFO, "AP %s did not confirm configuration version %lld (status %d)", ap.c_str(),
				  static_cast<long long>(version), status);
			return;
		}
		if (!store_.record_applied(ap, version)) {
			wlc::logf(LOG_WARNING, "Confirmation of %s not recorded", ap.c_str());
			return;
		}
		wlc::logf(LOG_NOTICE, "AP %s holds configuration version %lld", ap.c_str(), static_cast<long long>(version));
	});
	if (asked)
		asking_[id] = std::chrono::steady_clock::now();
}

} // namespace fleet
