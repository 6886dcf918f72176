// Views of the inventory.
#include "render.h"

namespace fleet {

namespace {

void add_summary_fields(wlc::BlobBuf &b, const ApRecord &ap)
{
	b.add("id", ap.id).add("site", ap.site).add("state", state_name(ap.state)).add_bool("online", ap.online);
	b.add("model", ap.model).add("serial", ap.serial).add("mac", ap.mac).add("ip", ap.ip);
	b.add("hostname", ap.hostname).add("fw_version", ap.fw_version).add("fw_revision", ap.fw_revision);
	b.add_u64("first_seen", static_cast<uint64_t>(ap.first_seen)).add_u64("last_seen", static_cast<uint64_t>(ap.last_seen));
}

} // namespace

void add_ap_summary(wlc::BlobBuf &b, const ApRecord &ap)
{
	auto t = b.table();
	add_summary_fields(b, ap);
}

void add_ap_detail(wlc::BlobBuf &b, const ApRecord &ap)
{
	add_summary_fields(b, ap);
	b.add("cert", ap.cert);
	wlc::BlobBuf config;
	// Written by this service from a checked table; an unreadable one is shown empty.
	bool ok = config.add_json(ap.custom_config);
	auto t = b.table("custom_config");
	if (ok)
		b.add_fields(config.head());
}

void add_events(wlc::BlobBuf &b, const std::vector<Event> &events)
{
	auto list = b.array("events");
	for (const Event &e : events) {
		auto t = b.table();
		b.add_u64("seq", static_cast<uint64_t>(e.seq)).add_u64("at", static_cast<uint64_t>(e.at));
		b.add("kind", e.kind).add("detail", e.detail);
	}
}

} // namespace fleet
