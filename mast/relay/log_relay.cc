// The controller's log relay: AP log entries to its log service.
#include "relays.h"

#include <wlc/log.h>
#include <wlc/loop.h>

#include <map>
#include <memory>

#include "../core/bus_calls.h"
#include "../mqtt/readers.h"

namespace mast {

namespace {

// The log service's id is looked up when the relay starts and again only when
// a call finds it gone (the service restarted), never per entry: a lookup is a
// blocking round trip. Entries whose call found it gone, and those arriving
// meanwhile, are held and sent in their order once it is found again.
struct Held {
	std::shared_ptr<wlc::BlobBuf> msg;
	bool resent = false; // a second failure drops it
};

struct LogRelay {
	wlc::Bus *bus = nullptr;
	MqttInstance *inst = nullptr;
	uint32_t log_id = 0; // 0: to be looked up again
	bool missing_logged = false;
	uint64_t next_seq = 0;
	std::map<uint64_t, Held> held;
	std::unique_ptr<wlc::Timer> find_again; // looks up outside the bus callbacks
};

LogRelay relay;

// The id of "log"; 0 when it is missing (logged once until it is found again).
uint32_t find_log(wlc::Bus &bus)
{
	uint32_t id = 0;
	int ret = ubus_lookup_id(bus.ctx(), "log", &id);
	if (ret == 0) {
		relay.missing_logged = false;
		return id;
	}
	if (!relay.missing_logged)
		wlc::logf(LOG_ERR, "Failed to find ubus log object: %s\n", ubus_strerror(ret));
	relay.missing_logged = true;
	return 0;
}

void hold(uint64_t seq, std::shared_ptr<wlc::BlobBuf> msg, bool resent)
{
	relay.held.emplace(seq, Held{std::move(msg), resent});
	if (!relay.find_again->pending())
		relay.find_again->set(0);
}

void send(uint64_t seq, const std::shared_ptr<wlc::BlobBuf> &msg, bool resent)
{
	uint32_t id = relay.log_id;
	call_nowait(*relay.bus, id, "add", *msg, [seq, msg, id, resent](int status) {
		if (status != UBUS_STATUS_NOT_FOUND || !relay.bus || resent)
			return;
		if (relay.log_id == id)
			relay.log_id = 0; // the service went away
		hold(seq, msg, true);
	});
}

// Sends what is held once the service is found; drops it when it is missing.
void send_held()
{
	if (relay.log_id == 0)
		relay.log_id = find_log(*relay.bus);
	std::map<uint64_t, Held> held = std::move(relay.held);
	relay.held.clear();
	if (relay.log_id == 0)
		return;
	for (auto &[seq, entry] : held)
		send(seq, entry.msg, entry.resent);
}

void relay_entry(const TopicLevels &topic, const void *payload, size_t len)
{
	if (!relay.bus || topic.size() < 5)
		return;
	std::optional<LogEntry> entry = read_log_entry(payload, len);
	if (!entry)
		return;
	auto add = std::make_shared<wlc::BlobBuf>();
	add->add("msg", entry->msg);
	add->add_u32("priority", entry->priority);
	add->add("hostname", topic[4]);
	uint64_t seq = relay.next_seq++;
	if (relay.log_id == 0 || !relay.held.empty())
		hold(seq, std::move(add), false);
	else
		send(seq, add, false);
}

} // namespace

int log_relay_start(wlc::Bus &bus, MqttInstance &inst)
{
	log_relay_stop();
	relay.bus = &bus;
	relay.inst = &inst;
	relay.find_again = std::make_unique<wlc::Timer>(send_held);
	relay.log_id = find_log(bus);
	if (relay.log_id == 0)
		return -1;
	inst.subscribe("zev/wlc/telemetry/ap/+/log", 0, relay_entry);
	return 0;
}

void log_relay_stop()
{
	relay = LogRelay{};
}

} // namespace mast
