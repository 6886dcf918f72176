// The bridge object's methods, pending requests and the response handler.
#include "bridge.h"

#include <wlc/c/blobmsg_json.h>
#include <wlc/log.h>
#include <wlc/platform_values.h>

#include <cstdlib>

#include "../mqtt/instance.h"
#include "../mqtt/readers.h"
#include "command_runner.h"

namespace mast {

namespace {

constexpr int kDefaultTimeoutMs = 3000;
// How often an object that could not be registered is tried again.
constexpr int kAddRetryMs = 1000;
// The most a reply may hold: the bus daemon drops the connection of a client
// that sends a longer message (room is left for the message's own headers).
constexpr size_t kMaxReplyBytes = wlc::platform::kBusMaxMessageLength - 4096;

enum { SEND_PATH, SEND_MESSAGE, SEND_QOS, SEND_RETAIN, SEND_MAX };
const std::array<blobmsg_policy, SEND_MAX> kSendPolicy = {{
	{"path", BLOBMSG_TYPE_STRING}, {"message", BLOBMSG_TYPE_TABLE},
	{"qos", BLOBMSG_TYPE_INT32}, {"retain", BLOBMSG_TYPE_BOOL},
}};

enum { SUB_PATH, SUB_QOS, SUB_CB, SUB_ONCE, SUB_MAX };
const std::array<blobmsg_policy, SUB_MAX> kSubscribePolicy = {{
	{"path", BLOBMSG_TYPE_STRING}, {"qos", BLOBMSG_TYPE_INT32},
	{"cb", BLOBMSG_TYPE_STRING}, {"once", BLOBMSG_TYPE_BOOL},
}};

enum { REQ_MSG_ID, REQ_AP_ID, REQ_QOS, REQ_COMMAND, REQ_DATA, REQ_TIMEOUT, REQ_MAX };
const std::array<blobmsg_policy, REQ_MAX> kRequestPolicy = {{
	{"msg_id", BLOBMSG_TYPE_INT32}, {"ap_id", BLOBMSG_TYPE_STRING}, {"qos", BLOBMSG_TYPE_INT32},
	{"command", BLOBMSG_TYPE_STRING}, {"data", BLOBMSG_TYPE_TABLE}, {"timeout", BLOBMSG_TYPE_INT32},
}};
const std::array<blobmsg_policy, REQ_MAX> kBatchPolicy = {{
	{"msg_id", BLOBMSG_TYPE_INT32}, {"ap_id", BLOBMSG_TYPE_ARRAY}, {"qos", BLOBMSG_TYPE_INT32},
	{"command", BLOBMSG_TYPE_STRING}, {"data", BLOBMSG_TYPE_TABLE}, {"timeout", BLOBMSG_TYPE_INT32},
}};

std::vector<blobmsg_policy> as_vector(const auto &policy)
{
	return {policy.begin(), policy.end()};
}

// qos absent gives 0; present it must be 0..2.
bool read_qos(blob_attr *attr, int &qos)
{
	qos = 0;
	if (!attr)
		return true;
	int32_t v = static_cast<int32_t>(blobmsg_get_u32(attr));
	if (v < 0 || v > 2)
		return false;
	qos = v;
	return true;
}

// A batch's AP identifiers must all be text: each names a topic. A call with
// another element is refused whole rather than publishing to part of the list.
bool all_text(blob_attr *array)
{
	blob_attr *ap;
	size_t rem;
	blobmsg_for_each_attr(ap, array, rem) {
		if (blobmsg_type(ap) != BLOBMSG_TYPE_STRING)
			return false;
	}
	return true;
}

std::string request_topic(const std::string &ap, const std::string &command)
{
	return "zev/wlc/telemetry/ap/" + ap + "/request/" + command;
}

} // namespace

int32_t next_request_id()
{
	static int32_t counter = 0;
	return counter++;
}

struct Bridge::Pending {
	wlc::DeferredReply reply;
	std::unique_ptr<wlc::Timer> timer;
	int remaining = 0; // batch: APs still silent; single: 0
	bool batch = false;
	bool too_big = false; // batch: answers were left out, the reply would not fit the bus
	wlc::BlobBuf buffer;

	// Sends the reply and completes the call, or fails it when the reply is
	// more than the bus carries.
	void answer(int32_t id, const wlc::BlobBuf &msg)
	{
		if (too_big || blob_raw_len(msg.head()) > kMaxReplyBytes) {
			wlc::logf(LOG_WARNING, "Reply to request %d is too large for ubus", id);
			reply.complete(UBUS_STATUS_UNKNOWN_ERROR);
			return;
		}
		reply.reply(msg);
		reply.complete(UBUS_STATUS_OK);
	}
	// Adds one AP's answer to a batch's reply; false once the reply no
	// longer fits the bus.
	bool collect(const std::string &ap, blob_attr *data)
	{
		size_t need = ap.size() + 16 + (data ? blob_pad_len(data) : 0);
		too_big = too_big || blob_raw_len(buffer.head()) + need > kMaxReplyBytes;
		if (too_big)
			return false;
		auto t = buffer.table(ap.c_str());
		buffer.add_fields(data);
		return true;
	}
};

Bridge::Bridge(MqttInstance &inst)
	: inst_(inst),
	  object_("mqtt." + inst.config().name,
		  {
			  {"send", as_vector(kSendPolicy), [this](wlc::Request &r, blob_attr *m) { return send(r, m); }},
			  {"subscribe", as_vector(kSubscribePolicy),
			   [this](wlc::Request &r, blob_attr *m) { return subscribe(r, m); }},
			  {"request_response", as_vector(kRequestPolicy),
			   [this](wlc::Request &r, blob_attr *m) { return request(r, m, false); }},
			  {"request_response_batch", as_vector(kBatchPolicy),
			   [this](wlc::Request &r, blob_attr *m) { return request(r, m, true); }},
		  },
		  "mqtt.instance"),
	  reaper_([this] { finished_.clear(); }), add_retry_([this] { try_add(); })
{
}

Bridge::~Bridge()
{
	remove();
}

void Bridge::add()
{
	wanted_ = true;
	failure_logged_ = false;
	try_add();
}

void Bridge::try_add()
{
	if (!wanted_ || object_.added())
		return;
	int rc = object_.add(inst_.bus());
	if (rc == 0) {
		if (failure_logged_)
			wlc::logf(LOG_NOTICE, "Added ubus object %s", object_.name().c_str());
		return;
	}
	// Without its object the connection is of no use to local daemons.
	if (!failure_logged_)
		wlc::logf(LOG_WARNING, "Failed to add ubus object %s: %s, trying again", object_.name().c_str(),
			  ubus_strerror(rc));
	failure_logged_ = true;
	add_retry_.set(kAddRetryMs);
}

void Bridge::remove()
{
	wanted_ = false;
	add_retry_.cancel();
	object_.remove();
}

int Bridge::send(wlc::Request &, blob_attr *msg)
{
	wlc::Fields<SEND_MAX> f;
	int qos;
	if (!f.parse(kSendPolicy, msg) || !f.has(SEND_PATH) || !read_qos(f[SEND_QOS], qos))
		return UBUS_STATUS_INVALID_ARGUMENT;
	blob_attr *message = f[SEND_MESSAGE];
	bool retain = f.boolean(SEND_RETAIN).value_or(false);
	int rc = inst_.publish(std::string(*f.str(SEND_PATH)), message, message ? blob_raw_len(message) : 0, qos, retain);
	return rc == 0 ? UBUS_STATUS_OK : UBUS_STATUS_UNKNOWN_ERROR;
}

int Bridge::subscribe(wlc::Request &, blob_attr *msg)
{
	wlc::Fields<SUB_MAX> f;
	int qos;
	if (!f.parse(kSubscribePolicy, msg) || !f.has(SUB_PATH) || !f.has(SUB_CB) || !read_qos(f[SUB_QOS], qos))
		return UBUS_STATUS_INVALID_ARGUMENT;
	return command_subscription(std::string(*f.str(SUB_PATH)), qos, std::string(*f.str(SUB_CB))) == 0
		       ? UBUS_STATUS_OK
		       : UBUS_STATUS_UNKNOWN_ERROR;
}

int Bridge::command_subscription(const std::string &filter, int qos, const std::string &command)
{
	std::string instance = inst_.config().name;
	return inst_.subscribe(filter, qos, [instance, command](const TopicLevels &topic, const void *payload, size_t len) {
		wlc::BlobBuf record;
		record.add("instance", instance);
		record.add("topic", join_topic(topic, 127));
		if (blob_attr *attr = payload_check(payload, len)) {
			auto table = record.table("message");
			record.add_fields(attr);
		}
		CommandRunner::instance().run(command, record.json(true));
	});
}

int Bridge::request(wlc::Request &req, blob_attr *msg, bool batch)
{
	wlc::Fields<REQ_MAX> f;
	int qos;
	if (!f.parse(batch ? kBatchPolicy : kRequestPolicy, msg) || !f.has(REQ_AP_ID) || !f.has(REQ_COMMAND) ||
	    !read_qos(f[REQ_QOS], qos) || (batch && !all_text(f[REQ_AP_ID])))
		return UBUS_STATUS_INVALID_ARGUMENT;
	std::string command(*f.str(REQ_COMMAND));
	int32_t id = next_request_id();
	wlc::BlobBuf out;
	out.add_u32("msg_id", static_cast<uint32_t>(id));
	if (f.has(REQ_DATA)) {
		auto data = out.table("data");
		out.add_fields(f[REQ_DATA]);
	}
	int count = 0;
	if (batch) {
		blob_attr *ap;
		size_t rem;
		blobmsg_for_each_attr(ap, f[REQ_AP_ID], rem) {
			inst_.publish(request_topic(blobmsg_get_string(ap), command), out.head(), blob_raw_len(out.head()), qos, false);
			count++;
		}
		if (count == 0)
			return UBUS_STATUS_INVALID_ARGUMENT;
	} else {
		inst_.publish(request_topic(std::string(*f.str(REQ_AP_ID)), command), out.head(), blob_raw_len(out.head()),
			      qos, false);
	}
	auto p = std::make_unique<Pending>();
	p->reply = req.defer();
	p->batch = batch;
	p->remaining = batch ? count : 0;
	p->timer = std::make_unique<wlc::Timer>([this, id] { expire(id); });
	p->timer->set(f.has(REQ_TIMEOUT) ? static_cast<int>(*f.u32(REQ_TIMEOUT)) : kDefaultTimeoutMs);
	pending_[id] = std::move(p);
	return UBUS_STATUS_OK;
}

void Bridge::finish(int32_t id)
{
	// The entry may be finishing from its own timer: free it from the loop.
	auto it = pending_.find(id);
	it->second->timer->cancel();
	finished_[id] = std::move(it->second);
	pending_.erase(it);
	reaper_.set(0);
}

void Bridge::expire(int32_t id)
{
	Pending &p = *pending_.at(id);
	if (p.batch) {
		p.answer(id, p.buffer);
	} else {
		p.reply.complete(UBUS_STATUS_TIMEOUT);
	}
	finish(id);
}

void Bridge::handle_response(const TopicLevels &topic, const void *payload, size_t len)
{
	std::optional<ResponseMessage> resp = read_response(payload, len);
	if (!resp)
		return;
	int32_t id = resp->id;
	auto it = pending_.find(id);
	if (it == pending_.end())
		return;
	Pending &p = *it->second;
	if (p.batch && p.remaining > 0) {
		// A reply that can no longer fit fails the call now, not at its timeout.
		bool fits = p.collect(topic.size() > 4 ? topic[4] : std::string(), resp->data);
		if (--p.remaining > 0 && fits)
			return;
		p.answer(id, p.buffer);
	} else {
		wlc::BlobBuf data;
		data.add_fields(resp->data);
		p.answer(id, data);
	}
	finish(id);
}

} // namespace mast
