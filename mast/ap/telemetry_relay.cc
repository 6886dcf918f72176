// The telemetry relay.
#include "telemetry_relay.h"

#include <wlc/log.h>

#include <algorithm>
#include <new>

#include "../mqtt/readers.h"

namespace mast {

// One running call: done once it completed or timed out, freed from the loop.
struct TelemetryRelay::Call {
	wlc::AsyncCall call;
	wlc::BlobBuf response;
	std::unique_ptr<wlc::Timer> timer;
	std::string what; // object and method, for the log
	uint32_t msg_id = 0;
	bool done = false;
};

TelemetryRelay::TelemetryRelay(wlc::Bus &bus, MqttInstance &inst, std::string own_id)
	: bus_(bus), inst_(inst), topic_("zev/wlc/telemetry/ap/" + own_id + "/response/ubus"), reaper_([this] { reap(); })
{
}

TelemetryRelay::~TelemetryRelay() = default;

size_t TelemetryRelay::call_record_size()
{
	return sizeof(Call);
}

void TelemetryRelay::handle(const void *payload, size_t len)
{
	TelemetryRequest req;
	switch (read_telemetry_request(payload, len, req)) {
	case RequestRead::ok:
		break;
	case RequestRead::bad_payload:
		wlc::logf(LOG_WARNING, "FAILED msg_check");
		return;
	case RequestRead::bad_request:
		wlc::logf(LOG_WARNING, "FAILED parse response");
		return;
	case RequestRead::bad_command:
		wlc::logf(LOG_WARNING, "FAILED bad ubus command!");
		return;
	}
	const std::string &object = req.object, &method = req.method;
	uint32_t id = bus_.lookup(object);
	if (!id) {
		wlc::logf(LOG_WARNING, "FAILED to find '%s' ubus object", object.c_str());
		return;
	}
	if (calls_.size() >= kMaxCalls) {
		wlc::logf(LOG_WARNING, "FAILED too many ubus calls in flight (%zu)", calls_.size());
		refuse(req.msg_id);
		return;
	}
	std::unique_ptr<Call> call;
	try {
		call = std::make_unique<Call>();
	} catch (const std::bad_alloc &) {
		wlc::logf(LOG_WARNING, "FAILED allocate memory for ubus_cmd_req");
		return;
	}
	Call *raw = call.get();
	raw->response.add_u32("msg_id", req.msg_id);
	wlc::BlobBuf args;
	args.add_fields(req.message);
	int rc = bus_.call_async(id, method, args, raw->call, [raw](blob_attr *reply) {
		auto data = raw->response.table("data");
		raw->response.add_fields(reply);
	}, [this, raw](int status) { finish(raw, status); });
	if (rc != 0) {
		wlc::logf(LOG_WARNING, "FAILED to invoke ubus %s %s", object.c_str(), method.c_str());
		return;
	}
	int limit = call_timeout_ms(req.timeout_ms);
	raw->what = object + " " + method;
	raw->msg_id = req.msg_id;
	// No answer goes out for a call given up: the controller's request ends
	// by its own time limit.
	raw->timer = std::make_unique<wlc::Timer>([this, raw, limit] {
		wlc::logf(LOG_WARNING, "FAILED ubus %s: no reply within %d ms", raw->what.c_str(), limit);
		raw->call.abort();
		raw->done = true;
		reaper_.set(0);
	});
	raw->timer->set(limit);
	calls_.push_back(std::move(call));
}

int TelemetryRelay::call_timeout_ms(std::optional<uint32_t> requested)
{
	if (!requested)
		return kDefaultTimeoutMs;
	// The field is signed on the wire: a value past INT32_MAX is negative.
	return std::max(static_cast<int32_t>(*requested), int32_t{1});
}

// A request that cannot be taken is answered at once, so that the controller
// need not wait for its own time limit.
void TelemetryRelay::refuse(uint32_t msg_id)
{
	wlc::BlobBuf response;
	response.add_u32("msg_id", msg_id);
	response.add_u32("code", static_cast<uint32_t>(UBUS_STATUS_UNKNOWN_ERROR));
	publish_response(response);
}

void TelemetryRelay::publish_response(const wlc::BlobBuf &response)
{
	if (inst_.publish(topic_, response.head(), blob_raw_len(response.head()), 2, true) != 0)
		wlc::logf(LOG_WARNING, "FAILED to publish ubus response");
}

void TelemetryRelay::finish(Call *call, int status)
{
	if (call->done)
		return;
	call->done = true;
	if (call->timer)
		call->timer->cancel();
	call->response.add_u32("code", static_cast<uint32_t>(status));
	publish_response(call->response);
	reaper_.set(0);
}

void TelemetryRelay::reap()
{
	calls_.remove_if([](const std::unique_ptr<Call> &c) { return c->done; });
}

} // namespace mast
