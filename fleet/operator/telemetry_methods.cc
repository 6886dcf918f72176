// The operator's telemetry methods.
#include "telemetry_methods.h"

#include <wlc/log.h>

#include <array>

#include "common/identifiers.h"
#include "common/message_check.h"
#include "operator/call_replies.h"

namespace fleet {

namespace {

enum { T_ID, T_SITE, T_RADIO, T_MAX };
const std::array<blobmsg_policy, T_MAX> kPolicy = {{
	{"id", BLOBMSG_TYPE_STRING}, {"site", BLOBMSG_TYPE_STRING}, {"radio", BLOBMSG_TYPE_INT32},
}};
constexpr int32_t kMaxRadio = 255;
enum { S_SITE, S_MAX };
const std::array<blobmsg_policy, S_MAX> kSitePolicy = {{{"site", BLOBMSG_TYPE_STRING}}};
constexpr std::array kStates = {ApState::pending, ApState::approved, ApState::adopted, ApState::offline,
				ApState::refused};

std::string read(blob_attr *msg, wlc::Fields<T_MAX> &f)
{
	std::string wrong = wrong_types(msg, kPolicy);
	if (!wrong.empty())
		return wrong;
	return f.parse(kPolicy, msg) ? "" : "malformed message";
}

std::string read_id(const wlc::Fields<T_MAX> &f)
{
	if (!f.has(T_ID))
		return "'id' is missing";
	return is_device_id(*f.str(T_ID)) ? "" : "'" + printable(*f.str(T_ID)) + "' is not a device identifier";
}

void add_sample(wlc::BlobBuf &b, const ApSample &s)
{
	auto t = b.table();
	b.add_u64("at", static_cast<uint64_t>(s.at));
	if (s.cpu >= 0)
		b.add_u32("cpu", static_cast<uint32_t>(s.cpu));
	if (s.clients >= 0)
		b.add_u32("clients", static_cast<uint32_t>(s.clients));
	auto radios = b.array("radios");
	for (const RadioSample &r : s.radios) {
		auto one = b.table();
		b.add_u32("radio", static_cast<uint32_t>(r.radio));
		if (r.channel >= 0)
			b.add_u32("channel", static_cast<uint32_t>(r.channel));
		if (r.power > -1000)
			b.add_u32("power", static_cast<uint32_t>(r.power));
	}
}

std::vector<blobmsg_policy> as_vector(const auto &policy)
{
	return {policy.begin(), policy.end()};
}

} // namespace

TelemetryMethods::TelemetryMethods(Inventory &inventory, const TelemetryStore &store)
	: inventory_(inventory), store_(store)
{
}

std::vector<wlc::Method> TelemetryMethods::methods()
{
	return {
		{"telemetry_show", as_vector(kPolicy), [this](wlc::Request &r, blob_attr *m) { return show(r, m); }},
		{"telemetry_series", as_vector(kPolicy), [this](wlc::Request &r, blob_attr *m) { return series(r, m); }},
		{"site_summary", as_vector(kSitePolicy), [this](wlc::Request &r, blob_attr *m) { return summary(r, m); }},
	};
}

int TelemetryMethods::show(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<T_MAX> f;
	std::string error = read(msg, f);
	if (error.empty())
		error = read_id(f);
	if (!error.empty())
		return fail(req, "telemetry_show", UBUS_STATUS_INVALID_ARGUMENT, error);
	std::string id(*f.str(T_ID));
	if (!inventory_.find(id))
		return fail(req, "telemetry_show", UBUS_STATUS_NOT_FOUND, "no AP " + id);
	wlc::BlobBuf reply;
	reply.add("id", id);
	for (const char *method : {"health", "radio", "wireless_clients"}) {
		std::optional<Answer> a = store_.answer(id, method);
		if (!a)
			continue;
		wlc::BlobBuf data;
		bool ok = data.add_json(a->json);
		auto t = reply.table(method);
		reply.add_u64("at", static_cast<uint64_t>(a->at));
		auto d = reply.table("reply");
		if (ok)
			reply.add_fields(data.head());
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int TelemetryMethods::series(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<T_MAX> f;
	std::string error = read(msg, f);
	bool by_site = error.empty() && !f.has(T_ID);
	if (error.empty() && by_site && (!f.has(T_SITE) || !f.has(T_RADIO)))
		error = "give 'id', or 'site' and 'radio'";
	else if (error.empty() && !by_site && (f.has(T_SITE) || f.has(T_RADIO)))
		error = "give 'id', or 'site' and 'radio'";
	else if (error.empty() && !by_site)
		error = read_id(f);
	else if (error.empty() && !is_site_name(*f.str(T_SITE)))
		error = "'site' is not a site name";
	int32_t radio = f.has(T_RADIO) ? static_cast<int32_t>(*f.u32(T_RADIO)) : 0;
	if (error.empty() && (radio < 0 || radio > kMaxRadio))
		error = "'radio' must be 0 to 255";
	if (!error.empty())
		return fail(req, "telemetry_series", UBUS_STATUS_INVALID_ARGUMENT, error);
	wlc::BlobBuf reply;
	if (by_site) {
		std::string site(*f.str(T_SITE));
		reply.add("site", site).add_u32("radio", static_cast<uint32_t>(radio));
		auto list = reply.array("cost");
		for (const CostSample &c : store_.cost_series(site, radio)) {
			auto t = reply.table();
			reply.add_u64("at", static_cast<uint64_t>(c.at)).add_u64("cost", static_cast<uint64_t>(c.cost));
		}
	} else {
		std::string id(*f.str(T_ID));
		if (!inventory_.find(id))
			return fail(req, "telemetry_series", UBUS_STATUS_NOT_FOUND, "no AP " + id);
		reply.add("id", id);
		auto list = reply.array("samples");
		for (const ApSample &s : store_.series(id))
			add_sample(reply, s);
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

// Only APs adopted and connected count: an offline AP's last count is stale.
int TelemetryMethods::summary(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<S_MAX> f;
	std::string error = read_fields(msg, kSitePolicy, f);
	if (error.empty() && !f.has(S_SITE))
		error = "'site' is missing";
	else if (error.empty() && !is_site_name(*f.str(S_SITE)))
		error = "'site' is not a site name";
	if (!error.empty())
		return fail(req, "site_summary", UBUS_STATUS_INVALID_ARGUMENT, error);
	ApFilter filter;
	filter.site = std::string(*f.str(S_SITE));
	wlc::BlobBuf reply;
	reply.add("site", *filter.site).add_u32("total", static_cast<uint32_t>(inventory_.count(filter)));
	{
		auto states = reply.table("states");
		for (ApState s : kStates) {
			ApFilter one = filter;
			one.state = s;
			reply.add_u32(std::string(state_name(s)).c_str(), static_cast<uint32_t>(inventory_.count(one)));
		}
	}
	filter.state = ApState::adopted;
	int64_t clients = 0, counted = 0;
	for (const ApRecord &ap : inventory_.list(filter)) {
		std::optional<int32_t> n = ap.online ? store_.clients(ap.id) : std::nullopt;
		clients += n.value_or(0);
		counted += n ? 1 : 0;
	}
	reply.add_u32("clients", static_cast<uint32_t>(clients)).add_u32("counted", static_cast<uint32_t>(counted));
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace fleet
