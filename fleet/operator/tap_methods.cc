// The operator's methods over the broker tap.
#include "tap_methods.h"

#include <array>

#include "common/identifiers.h"
#include "operator/call_replies.h"

namespace fleet {

namespace {

enum { L_ID, L_LINES, L_MAX };
const std::array<blobmsg_policy, L_MAX> kLogPolicy = {{
	{"id", BLOBMSG_TYPE_STRING}, {"lines", BLOBMSG_TYPE_INT32},
}};
enum { C_SITE, C_RADIO, C_LIMIT, C_MAX };
const std::array<blobmsg_policy, C_MAX> kCommandPolicy = {{
	{"site", BLOBMSG_TYPE_STRING}, {"radio", BLOBMSG_TYPE_INT32}, {"limit", BLOBMSG_TYPE_INT32},
}};
constexpr int32_t kMaxRadio = 255;
constexpr const char *kTapOff = "the broker tap is off (fleetd -b)";

std::vector<blobmsg_policy> as_vector(const auto &policy)
{
	return {policy.begin(), policy.end()};
}

// A count given as an int32 field: 1 to most, most when absent.
std::string read_count(std::optional<uint32_t> given, const char *name, size_t most, size_t &out)
{
	int64_t v = given ? static_cast<int32_t>(*given) : static_cast<int64_t>(most);
	if (v < 1 || v > static_cast<int64_t>(most))
		return "'" + std::string(name) + "' must be 1 to " + std::to_string(most);
	out = static_cast<size_t>(v);
	return "";
}

void add_command(wlc::BlobBuf &b, const RrmCommand &c)
{
	auto t = b.table();
	b.add_u64("at", static_cast<uint64_t>(c.at)).add("ap", c.ap).add_u32("radio", static_cast<uint32_t>(c.radio));
	if (c.channel)
		b.add_u32("channel", static_cast<uint32_t>(*c.channel));
	if (c.power)
		b.add_u32("power", static_cast<uint32_t>(*c.power));
}

} // namespace

std::vector<wlc::Method> TapMethods::methods()
{
	return {
		{"log_show", as_vector(kLogPolicy), [this](wlc::Request &r, blob_attr *m) { return log_show(r, m); }},
		{"rrm_commands", as_vector(kCommandPolicy),
		 [this](wlc::Request &r, blob_attr *m) { return rrm_commands(r, m); }},
	};
}

int TapMethods::log_show(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<L_MAX> f;
	std::string error = read_fields(msg, kLogPolicy, f);
	if (error.empty() && !f.has(L_ID))
		error = "'id' is missing";
	else if (error.empty() && !is_device_id(*f.str(L_ID)))
		error = "'" + printable(*f.str(L_ID)) + "' is not a device identifier";
	size_t lines = 0;
	size_t most = store_ ? store_->limits().lines_per_ap : TapLimits{}.lines_per_ap;
	if (error.empty())
		error = read_count(f.u32(L_LINES), "lines", most, lines);
	if (!error.empty())
		return fail(req, "log_show", UBUS_STATUS_INVALID_ARGUMENT, error);
	if (!store_)
		return fail(req, "log_show", UBUS_STATUS_NOT_SUPPORTED, kTapOff);
	std::string id(*f.str(L_ID));
	wlc::BlobBuf reply;
	reply.add("id", id);
	{
		auto list = reply.array("lines");
		for (const LogLine &l : store_->lines(id, lines)) {
			auto t = reply.table();
			reply.add_u64("at", static_cast<uint64_t>(l.at)).add_u32("priority", l.priority).add("msg", l.msg);
		}
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int TapMethods::rrm_commands(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<C_MAX> f;
	std::string error = read_fields(msg, kCommandPolicy, f);
	if (error.empty() && (!f.has(C_SITE) || !f.has(C_RADIO)))
		error = "give 'site' and 'radio'";
	else if (error.empty() && !is_site_name(*f.str(C_SITE)))
		error = "'site' is not a site name";
	int32_t radio = f.has(C_RADIO) ? static_cast<int32_t>(*f.u32(C_RADIO)) : 0;
	if (error.empty() && (radio < 0 || radio > kMaxRadio))
		error = "'radio' must be 0 to 255";
	size_t limit = 0;
	size_t most = store_ ? store_->limits().commands : TapLimits{}.commands;
	if (error.empty())
		error = read_count(f.u32(C_LIMIT), "limit", most, limit);
	if (!error.empty())
		return fail(req, "rrm_commands", UBUS_STATUS_INVALID_ARGUMENT, error);
	if (!store_)
		return fail(req, "rrm_commands", UBUS_STATUS_NOT_SUPPORTED, kTapOff);
	std::string site(*f.str(C_SITE));
	wlc::BlobBuf reply;
	reply.add("site", site).add_u32("radio", static_cast<uint32_t>(radio));
	{
		auto list = reply.array("commands");
		for (const RrmCommand &c : store_->commands(site, radio, limit))
			add_command(reply, c);
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace fleet
