// Telemetry polls.
#include "poller.h"

#include "common/clock.h"

#include <wlc/log.h>

#include <set>

namespace fleet {

namespace {

constexpr std::array<const char *, 3> kMethods = {"health", "radio", "wireless_clients"};
// What one AP may take of vigil's time for one method.
constexpr uint32_t kVigilTimeoutMs = 2000;

} // namespace

TelemetryPoller::TelemetryPoller(wlc::Bus &bus, Inventory &inventory, TelemetryStore &store, PollSettings settings)
	: bus_(bus), inventory_(inventory), store_(store), settings_(settings)
{
}

void TelemetryPoller::start()
{
	if (settings_.period_s > 0)
		timer_.set(0);
}

void TelemetryPoller::round()
{
	timer_.set(settings_.period_s * 1000);
	if (!queue_.empty()) {
		wlc::logf(LOG_WARNING, "Telemetry round skipped: the last one has %zu requests left", queue_.size());
		return;
	}
	round_at_ = system_seconds();
	ApFilter adopted;
	adopted.state = ApState::adopted;
	std::vector<ApRecord> aps = inventory_.list(adopted);
	std::vector<std::string> batch;
	for (size_t i = 0; i < aps.size(); i++) {
		if (aps[i].online)
			batch.push_back(aps[i].id);
		if (batch.size() == settings_.batch || (i + 1 == aps.size() && !batch.empty())) {
			for (const char *m : kMethods)
				queue_.push_back({batch, m});
			batch.clear();
		}
	}
	poll_costs(aps);
	next();
}

void TelemetryPoller::poll_costs(const std::vector<ApRecord> &aps)
{
	std::set<std::string> sites;
	for (const ApRecord &ap : aps)
		sites.insert(ap.site);
	int64_t at = round_at_;
	for (const std::string &site : sites) {
		for (int radio = 0; radio < settings_.radios; radio++) {
			uint32_t id = bus_.lookup("rrm_ctrl." + site + "." + std::to_string(radio));
			if (!id)
				continue;
			// The controller is local and answers at once; its model is small.
			bus_.call(id, "model", wlc::BlobBuf(), [&](blob_attr *msg) {
				wlc::Fields<1> f;
				if (f.parse({{{"cost", BLOBMSG_TYPE_INT32}}}, msg) && f.has(0))
					store_.take_cost(site, radio, static_cast<int32_t>(*f.u32(0)), at);
			}, 1000);
		}
	}
}

void TelemetryPoller::next()
{
	uint32_t bridge = bus_.lookup("mqtt.wlc");
	if (!bridge) {
		queue_.clear();
		return;
	}
	for (Slot &slot : slots_) {
		if (queue_.empty())
			return;
		if (slot.busy)
			continue;
		Work w = std::move(queue_.front());
		queue_.pop_front();
		send(slot, std::move(w), bridge);
	}
}

void TelemetryPoller::send(Slot &slot, Work work, uint32_t bridge)
{
	wlc::BlobBuf args;
	{
		auto ids = args.array("ap_id");
		for (const std::string &id : work.aps)
			args.add(nullptr, id);
	}
	args.add("command", "ubus").add_u32("qos", 1);
	{
		auto data = args.table("data");
		args.add("object", "vigil").add("method", work.method).add_u32("timeout", kVigilTimeoutMs);
	}
	args.add_u32("timeout", static_cast<uint32_t>(settings_.answer_ms));
	slot.busy = true;
	slot.method = work.method;
	slot.at = round_at_;
	Slot *s = &slot;
	int rc = bus_.call_async(bridge, "request_response_batch", args, slot.call,
		[this, s](blob_attr *msg) {
			blob_attr *pos;
			size_t rem;
			blob_for_each_attr(pos, msg, rem)
			{
				if (blob_is_extended(pos) && blobmsg_check_attr(pos, true) &&
				    blobmsg_type(pos) == BLOBMSG_TYPE_TABLE)
					store_.take(blobmsg_name(pos), s->method, pos, s->at);
			}
		},
		[this, s](int status) {
			if (status != UBUS_STATUS_OK)
				wlc::logf(LOG_INFO, "Telemetry %s request: status %d", s->method.c_str(), status);
			s->busy = false;
			next_.set(0);
		});
	if (rc != UBUS_STATUS_OK) {
		slot.busy = false;
		wlc::logf(LOG_WARNING, "Telemetry %s request not sent: status %d", work.method.c_str(), rc);
	}
}

} // namespace fleet
