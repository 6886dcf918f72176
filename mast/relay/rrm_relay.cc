// RRM reports to the local RRM controllers and RRM commands to the local agents.
#include "relays.h"

#include <wlc/log.h>

#include <cstdlib>
#include <utility>

#include "../core/bus_calls.h"

namespace mast {

namespace {

// Topic levels are decimal radio numbers reduced to 8 bits.
unsigned radio_of(const std::string &level)
{
	return static_cast<uint8_t>(std::strtoul(level.c_str(), nullptr, 10));
}

void report_relay(wlc::Bus &bus, const TopicLevels &topic, const void *payload, size_t len)
{
	if (topic.size() < 9)
		return;
	const std::string &site = topic[3], &id = topic[5], &type = topic[8];
	unsigned radio = radio_of(topic[6]);
	blob_attr *attr = payload_check(payload, len);
	if (!attr) {
		wlc::logf(LOG_WARNING, "Bad RRM %s report message from %s!", type.c_str(), id.c_str());
		return;
	}
	wlc::BlobBuf msg;
	msg.add("type", type);
	msg.add("id", id);
	{
		auto data = msg.table("data");
		msg.add_fields(attr);
	}
	wlc::logf(LOG_DEBUG, "Recv RRM %s report from %s", type.c_str(), id.c_str());
	call_nowait(bus, "rrm_ctrl." + site + "." + std::to_string(radio), "report_add", std::move(msg));
}

MqttInstance::Handler command_relay(wlc::Bus &bus, const char *method)
{
	return [&bus, method](const TopicLevels &topic, const void *payload, size_t len) {
		blob_attr *attr = payload_check(payload, len);
		if (!attr) {
			wlc::logf(LOG_WARNING, "Bad RRM %s message!", method);
			return;
		}
		if (topic.size() < 7)
			return;
		unsigned radio = radio_of(topic[6]);
		wlc::logf(LOG_DEBUG, "Recv RRM %s message for radio %d", method, radio);
		wlc::BlobBuf msg;
		msg.add_fields(attr);
		call_nowait(bus, "rrm_agent." + std::to_string(radio), method, std::move(msg));
	};
}

} // namespace

void rrm_subscribe(const Options &opts, const std::string &own_id, wlc::Bus &bus, MqttInstance &inst)
{
	if (!opts.rrm_ctrl_sites.empty()) {
		wlc::logf(LOG_DEBUG, "Subscribe for RRM controller topics");
		for (const std::string &site : opts.rrm_ctrl_sites)
			inst.subscribe(("zev/wlc/rrm/" + site + "/ap/+/+/report/+").substr(0, 127), 1,
				       [&bus](const TopicLevels &t, const void *p, size_t l) { report_relay(bus, t, p, l); });
	}
	if (opts.rrm_agents.empty())
		return;
	wlc::logf(LOG_DEBUG, "Subscribe for RRM agent topics");
	for (const RrmAgentEntry &a : opts.rrm_agents) {
		std::string base = "zev/wlc/rrm/" + a.site + "/ap/";
		std::string radio = std::to_string(a.radio);
		for (const char *method : {"config", "agressive"}) {
			inst.subscribe((base + own_id + "/" + radio + "/cmd/" + method).substr(0, 127), 1, command_relay(bus, method));
			inst.subscribe((base + "all/" + radio + "/cmd/" + method).substr(0, 127), 1, command_relay(bus, method));
		}
	}
}

} // namespace mast
