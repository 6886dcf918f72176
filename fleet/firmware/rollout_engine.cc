// The staged rollout.
#include "rollout_engine.h"

#include "common/clock.h"

#include <wlc/log.h>

#include <chrono>

namespace fleet {

namespace {

// How far back an AP's history is looked through for its last offline.
constexpr int64_t kRecentEvents = 20;

} // namespace

RolloutEngine::RolloutEngine(wlc::Bus &bus, Inventory &inventory, RolloutStore &store, FirmwareSettings settings)
	: bus_(bus), inventory_(inventory), store_(store), settings_(settings), calls_(std::chrono::seconds(60), 4096)
{
}

void RolloutEngine::start()
{
	timer_.set(0);
}

void RolloutEngine::kick()
{
	published_to_ = 0;
	timer_.set(0);
}

bool RolloutEngine::publish(uint32_t bridge, const std::string &topic, const wlc::BlobBuf &message, bool retain)
{
	wlc::BlobBuf args;
	args.add("path", topic);
	{
		auto t = args.table("message");
		args.add_fields(message.head());
	}
	args.add_u32("qos", 2).add_bool("retain", retain);
	return calls_.call(bus_, bridge, "send", args, [topic](int status) {
		if (status != UBUS_STATUS_OK)
			wlc::logf(LOG_WARNING, "Message on %s not sent: status %d", topic.c_str(), status);
	});
}

void RolloutEngine::keep_release(uint32_t bridge)
{
	std::optional<Release> r = store_.release();
	if (!r || (bridge == published_to_ && r->version == published_.version && r->revision == published_.revision))
		return;
	wlc::BlobBuf version;
	version.add("version", r->version).add("revision", r->revision);
	if (!publish(bridge, "zev/wlc/firmware/version", version, true))
		return;
	wlc::logf(LOG_NOTICE, "Send VERSION %s revision %s", r->version.c_str(), r->revision.c_str());
	published_to_ = bridge;
	published_ = *r;
}

void RolloutEngine::offer(const Rollout &r, const std::string &model, uint32_t bridge)
{
	std::optional<std::string> image = store_.image_for(model);
	if (!image) {
		wlc::logf(LOG_ERR, "No firmware image for model %s", model.c_str());
		return;
	}
	wlc::BlobBuf firmware;
	firmware.add("path", *image).add_u32("port", static_cast<uint32_t>(settings_.https_port));
	std::string topic = "zev/wlc/firmware/" + r.target.version + "/" + model;
	if (publish(bridge, topic, firmware, false))
		wlc::logf(LOG_INFO, "Send FIRMWARE %s on %s", image->c_str(), topic.c_str());
}

void RolloutEngine::run(Rollout &r, uint32_t bridge)
{
	std::vector<FwTrack> tracks = store_.tracks(r.id);
	std::vector<FwTrack> before = tracks;
	RolloutLimits limits = r.limits;
	limits.reoffer = settings_.reoffer_s;
	SeeAp see = [this](const std::string &id) -> std::optional<ApSeen> {
		std::optional<ApRecord> ap = inventory_.find(id);
		if (!ap)
			return std::nullopt;
		ApSeen seen{ap->online, ap->fw_revision, 0};
		for (const Event &e : inventory_.history(id, kRecentEvents))
			if (e.kind == "offline")
				seen.last_offline = e.at;
		return seen;
	};
	RolloutStep s = step_rollout(limits, r.target.revision, tracks, see, system_seconds());
	std::vector<bool> moved(tracks.size(), false);
	for (size_t i : s.changed) {
		moved[i] = tracks[i].state != before[i].state;
		if (moved[i])
			wlc::logf(LOG_NOTICE, "Rollout %lld: AP %s %s%s", static_cast<long long>(r.id), tracks[i].ap.c_str(),
				  std::string(fw_state_name(tracks[i].state)).c_str(),
				  tracks[i].detail.empty() ? "" : (" (" + tracks[i].detail + ")").c_str());
	}
	if (!s.changed.empty() || s.note != r.note) {
		if (!store_.save(r.id, tracks, moved, s.note)) {
			wlc::logf(LOG_ERR, "Rollout %lld not recorded", static_cast<long long>(r.id));
			return;
		}
	}
	for (const std::string &model : s.offers)
		offer(r, model, bridge);
	if (!s.halted && !s.finished)
		return;
	const char *state = s.halted ? "halted" : "finished";
	if (store_.end(r.id, state, s.halted ? "stopped at its failure limit" : ""))
		wlc::logf(LOG_NOTICE, "Rollout %lld %s", static_cast<long long>(r.id), state);
	keep_release(bridge);
}

void RolloutEngine::round()
{
	timer_.set(settings_.round_ms);
	uint32_t bridge = bus_.lookup("mqtt.wlc");
	if (!bridge)
		return;
	keep_release(bridge);
	if (std::optional<Rollout> r = store_.running())
		run(*r, bridge);
}

} // namespace fleet
