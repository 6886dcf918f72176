// The controller's log relay: AP log entries to its log service.
#include "relays.h"

#include <wlc/log.h>

#include "../core/bus_calls.h"

namespace mast {

namespace {

struct LogRelay {
	wlc::Bus *bus = nullptr;
	MqttInstance *inst = nullptr;
};

LogRelay relay;

enum { LOG_MSG, LOG_ID, LOG_PRIORITY, LOG_SOURCE, LOG_TIME, LOG_MAX };
const std::array<blobmsg_policy, LOG_MAX> kLogPolicy = {{
	{"msg", BLOBMSG_TYPE_STRING}, {"id", BLOBMSG_TYPE_INT32}, {"priority", BLOBMSG_TYPE_INT32},
	{"source", BLOBMSG_TYPE_INT32}, {"time", BLOBMSG_TYPE_INT64},
}};

void relay_entry(const TopicLevels &topic, const void *payload, size_t len)
{
	blob_attr *attr = payload_check(payload, len);
	if (!attr || !relay.bus || topic.size() < 5)
		return;
	wlc::Fields<LOG_MAX> f;
	if (!f.parse(kLogPolicy, attr) || !f.has(LOG_MSG) || !f.has(LOG_PRIORITY))
		return;
	wlc::BlobBuf add;
	add.add("msg", *f.str(LOG_MSG));
	add.add_u32("priority", *f.u32(LOG_PRIORITY));
	add.add("hostname", topic[4]);
	call_nowait(*relay.bus, "log", "add", add);
}

} // namespace

int log_relay_start(wlc::Bus &bus, MqttInstance &inst)
{
	log_relay_stop();
	relay.bus = &bus;
	relay.inst = &inst;
	uint32_t id = 0;
	int ret = ubus_lookup_id(bus.ctx(), "log", &id);
	if (ret != 0) {
		wlc::logf(LOG_ERR, "Failed to find ubus log object: %s\n", ubus_strerror(ret));
		return -1;
	}
	inst.subscribe("zev/wlc/telemetry/ap/+/log", 0, relay_entry);
	return 0;
}

void log_relay_stop()
{
	relay = LogRelay{};
}

} // namespace mast
