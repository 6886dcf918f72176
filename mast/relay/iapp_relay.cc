// Fast-roaming messages of the mobility domain to the local "iapp" daemon.
#include "relays.h"

#include <wlc/log.h>

#include <cstring>
#include <utility>

#include "../core/bus_calls.h"

namespace mast {

namespace {

MqttInstance::Handler iapp_relay(wlc::Bus &bus, const char *method, bool with_wlan)
{
	return [&bus, method, with_wlan](const TopicLevels &topic, const void *payload, size_t len) {
		blob_attr *attr = payload_check(payload, len);
		if (!attr) {
			wlc::logf(LOG_WARNING, "Bad IAPP %s message!", method);
			return;
		}
		wlc::BlobBuf msg;
		if (!with_wlan) {
			msg.add_fields(attr);
		} else {
			// The wlan is the topic's: a "wlan" in the payload would come
			// first and be the one read, so it is left out (a field whose
			// name cannot be read is left out too).
			blob_attr *field;
			size_t rem;
			blobmsg_for_each_attr(field, attr, rem)
				if (blobmsg_check_attr(field, true) && std::strcmp(blobmsg_name(field), "wlan") != 0)
					msg.add_field(field);
			if (topic.size() > 5)
				msg.add("wlan", topic[5]);
		}
		call_nowait(bus, "iapp", method, std::move(msg));
	};
}

} // namespace

void iapp_subscribe(const Options &opts, const std::string &own_id, wlc::Bus &bus, MqttInstance &inst)
{
	if (!opts.site || opts.wlans.empty())
		return;
	wlc::logf(LOG_DEBUG, "Subscribe for IAPP topics");
	std::string md = "zev/wlc/iapp/md/" + *opts.site + "/";
	for (const std::string &wlan : opts.wlans) {
		inst.subscribe((md + wlan + "/sta_add").substr(0, 127), 2, iapp_relay(bus, "sta_add", true));
		inst.subscribe((md + wlan + "/sta_move").substr(0, 127), 2, iapp_relay(bus, "sta_move", true));
	}
	std::string ap = "zev/wlc/iapp/ap/" + own_id + "/";
	inst.subscribe((ap + "key_get").substr(0, 127), 2, iapp_relay(bus, "key_get", false));
	inst.subscribe((ap + "key_set").substr(0, 127), 2, iapp_relay(bus, "key_set", false));
}

} // namespace mast
