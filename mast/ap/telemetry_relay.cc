// The telemetry relay.
#include "telemetry_relay.h"

#include <wlc/log.h>

#include <algorithm>

namespace mast {

namespace {

enum { R_MSG_ID, R_DATA, R_MAX };
const std::array<blobmsg_policy, R_MAX> kRequestPolicy = {{
	{"msg_id", BLOBMSG_TYPE_INT32}, {"data", BLOBMSG_TYPE_TABLE},
}};

enum { U_OBJECT, U_METHOD, U_TIMEOUT, U_MESSAGE, U_MAX };
const std::array<blobmsg_policy, U_MAX> kUbusPolicy = {{
	{"object", BLOBMSG_TYPE_STRING}, {"method", BLOBMSG_TYPE_STRING}, {"timeout", BLOBMSG_TYPE_INT32},
	{"message", BLOBMSG_TYPE_TABLE},
}};

} // namespace

// One running call: done once it completed or timed out, freed from the loop.
struct TelemetryRelay::Call {
	wlc::AsyncCall call;
	wlc::BlobBuf response;
	std::unique_ptr<wlc::Timer> timer;
	bool done = false;
};

TelemetryRelay::TelemetryRelay(wlc::Bus &bus, MqttInstance &inst, std::string own_id)
	: bus_(bus), inst_(inst), topic_("zev/wlc/telemetry/ap/" + own_id + "/response/ubus"), reaper_([this] { reap(); })
{
}

TelemetryRelay::~TelemetryRelay() = default;

void TelemetryRelay::handle(const void *payload, size_t len)
{
	blob_attr *attr = payload_check(payload, len);
	if (!attr) {
		wlc::logf(LOG_WARNING, "FAILED msg_check");
		return;
	}
	wlc::Fields<R_MAX> req;
	if (!req.parse(kRequestPolicy, attr) || !req.has(R_MSG_ID) || !req.has(R_DATA)) {
		wlc::logf(LOG_WARNING, "FAILED parse response");
		return;
	}
	wlc::Fields<U_MAX> u;
	if (!u.parse(kUbusPolicy, req[R_DATA]) || !u.has(U_OBJECT) || !u.has(U_METHOD)) {
		wlc::logf(LOG_WARNING, "FAILED bad ubus command!");
		return;
	}
	std::string object(*u.str(U_OBJECT)), method(*u.str(U_METHOD));
	uint32_t id = bus_.lookup(object);
	if (!id) {
		wlc::logf(LOG_WARNING, "FAILED to find '%s' ubus object", object.c_str());
		return;
	}
	if (calls_.size() >= kMaxCalls) {
		wlc::logf(LOG_WARNING, "FAILED too many ubus calls in flight (%zu)", calls_.size());
		return;
	}
	auto call = std::make_unique<Call>();
	Call *raw = call.get();
	raw->response.add_u32("msg_id", *req.u32(R_MSG_ID));
	wlc::BlobBuf args;
	args.add_fields(u[U_MESSAGE]);
	int rc = bus_.call_async(id, method, args, raw->call, [raw](blob_attr *reply) {
		auto data = raw->response.table("data");
		raw->response.add_fields(reply);
	}, [this, raw](int status) { finish(raw, status); });
	if (rc != 0) {
		wlc::logf(LOG_WARNING, "FAILED to invoke ubus %s %s", object.c_str(), method.c_str());
		return;
	}
	raw->timer = std::make_unique<wlc::Timer>([this, raw] {
		raw->call.abort();
		raw->done = true;
		reaper_.set(0);
	});
	raw->timer->set(call_timeout_ms(u.u32(U_TIMEOUT)));
	calls_.push_back(std::move(call));
}

int TelemetryRelay::call_timeout_ms(std::optional<uint32_t> requested)
{
	if (!requested)
		return kDefaultTimeoutMs;
	return std::clamp(static_cast<int32_t>(*requested), int32_t{1}, int32_t{kMaxTimeoutMs});
}

void TelemetryRelay::finish(Call *call, int status)
{
	if (call->done)
		return;
	call->done = true;
	if (call->timer)
		call->timer->cancel();
	call->response.add_u32("code", static_cast<uint32_t>(status));
	(void)inst_.publish(topic_, call->response.head(), blob_raw_len(call->response.head()), 2, true);
	reaper_.set(0);
}

void TelemetryRelay::reap()
{
	calls_.remove_if([](const std::unique_ptr<Call> &c) { return c->done; });
}

} // namespace mast
