// The "fleet" object.
#include "fleet_object.h"

#include <wlc/log.h>

#include <algorithm>
#include <array>
#include <cctype>

#include "common/identifiers.h"
#include "common/message_check.h"
#include "operator/call_replies.h"
#include "operator/render.h"

namespace fleet {

namespace {

enum { L_SITE, L_STATE, L_MODEL, L_OFFSET, L_LIMIT, L_MAX };
const std::array<blobmsg_policy, L_MAX> kListPolicy = {{
	{"site", BLOBMSG_TYPE_STRING}, {"state", BLOBMSG_TYPE_STRING}, {"model", BLOBMSG_TYPE_STRING},
	{"offset", BLOBMSG_TYPE_INT32}, {"limit", BLOBMSG_TYPE_INT32},
}};
enum { I_ID, I_MAX };
const std::array<blobmsg_policy, I_MAX> kIdPolicy = {{{"id", BLOBMSG_TYPE_STRING}}};
enum { A_SERIAL, A_MAC, A_SITE, A_MAX };
const std::array<blobmsg_policy, A_MAX> kAllowPolicy = {{
	{"serial", BLOBMSG_TYPE_STRING}, {"mac", BLOBMSG_TYPE_STRING}, {"site", BLOBMSG_TYPE_STRING},
}};
enum { H_ID, H_LIMIT, H_MAX };
const std::array<blobmsg_policy, H_MAX> kHistoryPolicy = {{{"id", BLOBMSG_TYPE_STRING}, {"limit", BLOBMSG_TYPE_INT32}}};
enum { C_ID, C_ENABLED, C_MAX };
const std::array<blobmsg_policy, C_MAX> kCommandPolicy = {{{"id", BLOBMSG_TYPE_STRING}, {"enabled", BLOBMSG_TYPE_BOOL}}};

// A list reply stays well inside the bus's largest message.
constexpr int32_t kMaxListLimit = 2000;
constexpr int32_t kDefaultListLimit = 500;
constexpr int32_t kMaxHistory = 1000;
constexpr int32_t kDefaultHistory = 50;
constexpr size_t kMaxModelLen = 23;
constexpr size_t kMaxSerialLen = 31;

std::vector<blobmsg_policy> as_vector(const auto &policy)
{
	return {policy.begin(), policy.end()};
}

bool plain_text(std::string_view s, size_t max)
{
	return !s.empty() && s.size() <= max && printable(s, max) == s;
}

// Empty when the list filter is sound; fills filter.
std::string read_filter(const wlc::Fields<L_MAX> &f, ApFilter &filter)
{
	if (f.has(L_SITE) && !is_site_name(*f.str(L_SITE)))
		return "'site' is not a site name";
	if (f.has(L_STATE) && !parse_state(*f.str(L_STATE)))
		return "'state' must be pending, approved, adopted, offline or refused";
	if (f.has(L_MODEL) && !plain_text(*f.str(L_MODEL), kMaxModelLen))
		return "'model' must be 1 to 23 printable characters";
	int32_t offset = f.has(L_OFFSET) ? static_cast<int32_t>(*f.u32(L_OFFSET)) : 0;
	int32_t limit = f.has(L_LIMIT) ? static_cast<int32_t>(*f.u32(L_LIMIT)) : kDefaultListLimit;
	if (offset < 0)
		return "'offset' must not be negative";
	if (limit < 1 || limit > kMaxListLimit)
		return "'limit' must be 1 to " + std::to_string(kMaxListLimit);
	if (f.has(L_SITE))
		filter.site = std::string(*f.str(L_SITE));
	if (f.has(L_STATE))
		filter.state = parse_state(*f.str(L_STATE));
	if (f.has(L_MODEL))
		filter.model = std::string(*f.str(L_MODEL));
	filter.offset = offset;
	filter.limit = limit;
	return "";
}

// The AP identifier of a call, checked; empty with the reason in error.
std::string read_id(const std::optional<std::string_view> &id, std::string &error)
{
	if (!id)
		error = "'id' is missing";
	else if (!is_device_id(*id))
		error = "'" + printable(*id) + "' is not a device identifier";
	return error.empty() ? std::string(*id) : std::string();
}

// The method table: this object's own methods, then those given.
std::vector<wlc::Method> with(std::vector<wlc::Method> own, std::vector<wlc::Method> more)
{
	own.insert(own.end(), std::make_move_iterator(more.begin()), std::make_move_iterator(more.end()));
	return own;
}

} // namespace

FleetObject::FleetObject(Inventory &inventory, Lifecycle &lifecycle, Publisher &publisher, std::string default_site,
			 std::vector<wlc::Method> more)
	: inventory_(inventory), lifecycle_(lifecycle), publisher_(publisher), default_site_(std::move(default_site)),
	  object_("fleet", with({
		{"list", as_vector(kListPolicy), [this](wlc::Request &r, blob_attr *m) { return list(r, m); }},
		{"show", as_vector(kIdPolicy), [this](wlc::Request &r, blob_attr *m) { return show(r, m); }},
		{"approve", as_vector(kIdPolicy), [this](wlc::Request &r, blob_attr *m) { return decide(r, m, "approve"); }},
		{"refuse", as_vector(kIdPolicy), [this](wlc::Request &r, blob_attr *m) { return decide(r, m, "refuse"); }},
		{"forget", as_vector(kIdPolicy), [this](wlc::Request &r, blob_attr *m) { return decide(r, m, "forget"); }},
		{"allow", as_vector(kAllowPolicy), [this](wlc::Request &r, blob_attr *m) { return allow(r, m); }},
		{"history", as_vector(kHistoryPolicy), [this](wlc::Request &r, blob_attr *m) { return history(r, m); }},
		{"reboot", as_vector(kIdPolicy),
		 [this](wlc::Request &r, blob_attr *m) { return command(r, m, ApCommandKind::reboot, "reboot"); }},
		{"reset", as_vector(kIdPolicy),
		 [this](wlc::Request &r, blob_attr *m) { return command(r, m, ApCommandKind::reset, "reset"); }},
		{"enforced_auth", as_vector(kCommandPolicy),
		 [this](wlc::Request &r, blob_attr *m) { return command(r, m, ApCommandKind::enforced_auth, "enforced_auth"); }},
	  }, std::move(more)))
{
}

int FleetObject::list(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<L_MAX> f;
	ApFilter filter;
	std::string error = read_fields(msg, kListPolicy, f);
	if (error.empty())
		error = read_filter(f, filter);
	if (!error.empty())
		return fail(req, "list", UBUS_STATUS_INVALID_ARGUMENT, error);
	wlc::BlobBuf reply;
	reply.add_u32("total", static_cast<uint32_t>(inventory_.count(filter)));
	{
		auto aps = reply.array("aps");
		for (const ApRecord &ap : inventory_.list(filter))
			add_ap_summary(reply, ap);
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int FleetObject::show(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<I_MAX> f;
	std::string error = read_fields(msg, kIdPolicy, f);
	std::string id = error.empty() ? read_id(f.str(I_ID), error) : "";
	if (!error.empty())
		return fail(req, "show", UBUS_STATUS_INVALID_ARGUMENT, error);
	std::optional<ApRecord> ap = inventory_.find(id);
	if (!ap)
		return fail(req, "show", UBUS_STATUS_NOT_FOUND, "no AP " + id);
	wlc::BlobBuf reply;
	add_ap_detail(reply, *ap);
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int FleetObject::decide(wlc::Request &req, blob_attr *msg, const std::string &method)
{
	wlc::Fields<I_MAX> f;
	std::string error = read_fields(msg, kIdPolicy, f);
	std::string id = error.empty() ? read_id(f.str(I_ID), error) : "";
	if (!error.empty())
		return fail(req, method.c_str(), UBUS_STATUS_INVALID_ARGUMENT, error);
	Outcome o = method == "approve" ? lifecycle_.approve(id, who(req))
		    : method == "refuse" ? lifecycle_.refuse(id, who(req))
					 : lifecycle_.forget(id, who(req));
	if (o == Outcome::not_found)
		return fail(req, method.c_str(), UBUS_STATUS_NOT_FOUND, "no AP " + id);
	if (o == Outcome::store_failed)
		return fail(req, method.c_str(), UBUS_STATUS_UNKNOWN_ERROR, "inventory not written");
	wlc::BlobBuf reply;
	reply.add("id", id);
	if (std::optional<ApRecord> ap = inventory_.find(id))
		reply.add("state", state_name(ap->state));
	reply.add("message", o == Outcome::unchanged ? "unchanged" : method == "approve" ? "approved"
							     : method == "refuse" ? "refused" : "forgotten");
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int FleetObject::allow(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<A_MAX> f;
	std::string error = read_fields(msg, kAllowPolicy, f);
	if (error.empty() && f.has(A_SERIAL) == f.has(A_MAC))
		error = "give either 'serial' or 'mac'";
	else if (error.empty() && f.has(A_SERIAL) && !plain_text(*f.str(A_SERIAL), kMaxSerialLen))
		error = "'serial' must be 1 to 31 printable characters";
	else if (error.empty() && f.has(A_MAC) && !is_mac(*f.str(A_MAC)))
		error = "'mac' is not a MAC address";
	else if (error.empty() && f.has(A_SITE) && !is_site_name(*f.str(A_SITE)))
		error = "'site' is not a site name";
	if (!error.empty())
		return fail(req, "allow", UBUS_STATUS_INVALID_ARGUMENT, error);
	AllowKind kind = f.has(A_SERIAL) ? AllowKind::serial : AllowKind::mac;
	std::string value(kind == AllowKind::serial ? *f.str(A_SERIAL) : *f.str(A_MAC));
	if (kind == AllowKind::mac)
		std::transform(value.begin(), value.end(), value.begin(), [](unsigned char c) { return std::tolower(c); });
	std::string site = f.has(A_SITE) ? std::string(*f.str(A_SITE)) : default_site_;
	if (!inventory_.allow(kind, value, site))
		return fail(req, "allow", UBUS_STATUS_UNKNOWN_ERROR, "inventory not written");
	wlc::logf(LOG_NOTICE, "%s %s allowed in site %s", kind == AllowKind::serial ? "Serial" : "MAC", value.c_str(),
		  site.c_str());
	wlc::BlobBuf reply;
	reply.add(kind == AllowKind::serial ? "serial" : "mac", value).add("site", site);
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int FleetObject::history(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<H_MAX> f;
	std::string error = read_fields(msg, kHistoryPolicy, f);
	std::string id = error.empty() ? read_id(f.str(H_ID), error) : "";
	int32_t limit = f.has(H_LIMIT) ? static_cast<int32_t>(*f.u32(H_LIMIT)) : kDefaultHistory;
	if (error.empty() && (limit < 1 || limit > kMaxHistory))
		error = "'limit' must be 1 to " + std::to_string(kMaxHistory);
	if (!error.empty())
		return fail(req, "history", UBUS_STATUS_INVALID_ARGUMENT, error);
	wlc::BlobBuf reply;
	reply.add("id", id);
	add_events(reply, inventory_.history(id, limit));
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int FleetObject::command(wlc::Request &req, blob_attr *msg, ApCommandKind kind, const char *method)
{
	wlc::Fields<C_MAX> f;
	std::string error = read_fields(msg, kCommandPolicy, f);
	std::string id = error.empty() ? read_id(f.str(C_ID), error) : "";
	if (error.empty() && kind == ApCommandKind::enforced_auth && !f.has(C_ENABLED))
		error = "'enabled' is missing";
	else if (error.empty() && kind != ApCommandKind::enforced_auth && f.has(C_ENABLED))
		error = "'enabled' belongs to enforced_auth only";
	if (!error.empty())
		return fail(req, method, UBUS_STATUS_INVALID_ARGUMENT, error);
	std::optional<ApRecord> ap = inventory_.find(id);
	if (!ap)
		return fail(req, method, UBUS_STATUS_NOT_FOUND, "no AP " + id);
	// Not kept for later: an AP that is not connected would never see it.
	if (ap->state != ApState::adopted || !ap->online)
		return fail(req, method, UBUS_STATUS_NO_DATA, "AP " + id + " is " + std::string(state_name(ap->state)) +
								 (ap->online ? "" : " and not connected") + ": not sent");
	ApCommand c = make_ap_command(kind, id, f.boolean(C_ENABLED).value_or(false));
	if (!publisher_.publish(c.topic, c.message ? &*c.message : nullptr, c.detail + " to " + id))
		return fail(req, method, UBUS_STATUS_UNKNOWN_ERROR, "the controller's broker connection is down: not sent");
	if (!inventory_.note(id, {"command", c.detail + " (" + who(req) + ")"}))
		return fail(req, method, UBUS_STATUS_UNKNOWN_ERROR, "sent, but not recorded in the history");
	wlc::logf(LOG_NOTICE, "Sent %s to AP %s (%s)", c.detail.c_str(), id.c_str(), who(req).c_str());
	wlc::BlobBuf reply;
	reply.add("id", id).add("message", "sent: " + c.detail);
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace fleet
