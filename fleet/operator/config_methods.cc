// The operator's configuration methods.
#include "config_methods.h"

#include <wlc/log.h>

#include <array>
#include <ctime>

#include "common/identifiers.h"
#include "common/message_check.h"
#include "operator/call_replies.h"
#include "config/merge.h"

namespace fleet {

namespace {

enum { C_SITE, C_GROUP, C_AP, C_CONFIG, C_REASON, C_DRAFT, C_DELAY, C_LIMIT, C_MAX };
// "config" is a table or the text of one: its type is checked on its own.
const std::array<blobmsg_policy, C_MAX> kPolicy = {{
	{"site", BLOBMSG_TYPE_STRING}, {"group", BLOBMSG_TYPE_STRING}, {"ap", BLOBMSG_TYPE_STRING},
	{"config", BLOBMSG_TYPE_UNSPEC}, {"reason", BLOBMSG_TYPE_STRING}, {"draft", BLOBMSG_TYPE_BOOL},
	{"delay", BLOBMSG_TYPE_INT32}, {"limit", BLOBMSG_TYPE_INT32},
}};
const std::array<blobmsg_policy, C_MAX - 1> kTypedPolicy = {{
	kPolicy[C_SITE], kPolicy[C_GROUP], kPolicy[C_AP], kPolicy[C_REASON], kPolicy[C_DRAFT], kPolicy[C_DELAY],
	kPolicy[C_LIMIT],
}};
enum { G_ID, G_GROUP, G_MAX };
const std::array<blobmsg_policy, G_MAX> kGroupPolicy = {{{"id", BLOBMSG_TYPE_STRING}, {"group", BLOBMSG_TYPE_STRING}}};

constexpr size_t kMaxReason = 200;
constexpr int32_t kMaxDelay = 86400;
constexpr int32_t kMaxHistory = 100;
constexpr int32_t kDefaultHistory = 20;

using Fields = wlc::Fields<C_MAX>;

// The fields of a configuration call; "config" may be of any type here.
std::string read_config_fields(blob_attr *msg, Fields &f)
{
	std::string wrong = wrong_types(msg, kTypedPolicy);
	if (!wrong.empty())
		return wrong;
	return f.parse(kPolicy, msg) ? "" : "malformed message";
}

struct Target {
	ConfigScope scope = ConfigScope::site;
	std::string name;
};

// The one of "site", "group" or "ap" a call names, checked.
std::string read_target(const Fields &f, Target &t)
{
	int named = (f.has(C_SITE) ? 1 : 0) + (f.has(C_GROUP) ? 1 : 0) + (f.has(C_AP) ? 1 : 0);
	if (named != 1)
		return "give one of 'site', 'group' or 'ap'";
	if (f.has(C_SITE)) {
		t = {ConfigScope::site, std::string(*f.str(C_SITE))};
		return is_site_name(t.name) ? "" : "'site' is not a site name";
	}
	if (f.has(C_GROUP)) {
		t = {ConfigScope::group, std::string(*f.str(C_GROUP))};
		return is_site_name(t.name) ? "" : "'group' must be 1 to 32 letters, digits, '.', '_' or '-'";
	}
	t = {ConfigScope::ap, std::string(*f.str(C_AP))};
	return is_device_id(t.name) ? "" : "'" + printable(t.name) + "' is not a device identifier";
}

// The document a "config" field holds, or the reason it is refused.
ConfigDocument read_document(blob_attr *config)
{
	if (!config)
		return {"", "'config' is missing"};
	if (blobmsg_type(config) == BLOBMSG_TYPE_STRING) {
		std::optional<std::string_view> text = wlc::get_string(config);
		ConfigDocument d = text ? read_config(*text) : ConfigDocument{"", "not a string"};
		if (!d.error.empty())
			d.error = "'config' is " + d.error;
		return d;
	}
	if (blobmsg_type(config) != BLOBMSG_TYPE_TABLE)
		return {"", "field 'config' must be a JSON object (a table, or its text)"};
	if (!nests_within(config, kMaxConfigDepth - 1))
		return {"", "'config' is nested deeper than " + std::to_string(kMaxConfigDepth) + " levels"};
	ConfigDocument d = read_config(table_json(config));
	if (!d.error.empty())
		d.error = "'config' is " + d.error;
	return d;
}

std::string read_options(const Fields &f, NewConfig &c)
{
	if (f.has(C_REASON)) {
		c.reason = std::string(*f.str(C_REASON));
		if (c.reason.size() > kMaxReason || printable(c.reason, kMaxReason) != c.reason)
			return "'reason' must be at most 200 printable characters";
	}
	int32_t delay = f.has(C_DELAY) ? static_cast<int32_t>(*f.u32(C_DELAY)) : 0;
	if (delay < 0 || delay > kMaxDelay)
		return "'delay' must be 0 to " + std::to_string(kMaxDelay) + " seconds";
	if (delay > 0)
		c.not_before = static_cast<int64_t>(std::time(nullptr)) + delay;
	c.draft = f.has(C_DRAFT) && *f.boolean(C_DRAFT);
	return "";
}

// The members of a JSON object as a table of the reply.
void add_document(wlc::BlobBuf &reply, const char *name, const std::string &json)
{
	wlc::BlobBuf doc;
	bool ok = doc.add_json(json);
	auto t = reply.table(name);
	if (ok)
		reply.add_fields(doc.head());
}

void add_change(wlc::BlobBuf &reply, const ConfigChange &c)
{
	reply.add_u64("version", static_cast<uint64_t>(c.version)).add_u64("at", static_cast<uint64_t>(c.at));
	reply.add("author", c.author).add("reason", c.reason).add_bool("draft", c.draft);
	if (c.not_before)
		reply.add_u64("not_before", static_cast<uint64_t>(c.not_before));
	add_document(reply, "config", c.config);
}

std::vector<blobmsg_policy> as_vector(const auto &policy)
{
	return {policy.begin(), policy.end()};
}

} // namespace

ConfigMethods::ConfigMethods(Inventory &inventory, ConfigStore &store, std::function<void()> changed)
	: inventory_(inventory), store_(store), changed_(std::move(changed))
{
}

std::vector<wlc::Method> ConfigMethods::methods()
{
	return {
		{"config_set", as_vector(kPolicy), [this](wlc::Request &r, blob_attr *m) { return set(r, m); }},
		{"config_show", as_vector(kPolicy), [this](wlc::Request &r, blob_attr *m) { return show(r, m); }},
		{"config_history", as_vector(kPolicy), [this](wlc::Request &r, blob_attr *m) { return history(r, m); }},
		{"group_set", as_vector(kGroupPolicy), [this](wlc::Request &r, blob_attr *m) { return set_group(r, m); }},
	};
}

int ConfigMethods::set(wlc::Request &req, blob_attr *msg)
{
	Fields f;
	Target t;
	NewConfig c;
	std::string error = read_config_fields(msg, f);
	if (error.empty())
		error = read_target(f, t);
	ConfigDocument doc;
	if (error.empty()) {
		doc = read_document(f[C_CONFIG]);
		error = doc.error;
	}
	if (error.empty())
		error = read_options(f, c);
	if (!error.empty())
		return fail(req, "config_set", UBUS_STATUS_INVALID_ARGUMENT, error);
	c.scope = t.scope;
	c.name = t.name;
	c.config = doc.json;
	c.author = who(req);
	std::optional<int64_t> version = store_.set(c);
	if (!version)
		return fail(req, "config_set", UBUS_STATUS_UNKNOWN_ERROR, "inventory not written");
	wlc::logf(LOG_NOTICE, "Configuration of %s %s is version %lld (%s)", std::string(scope_name(t.scope)).c_str(),
		  t.name.c_str(), static_cast<long long>(*version), c.author.c_str());
	changed_();
	wlc::BlobBuf reply;
	reply.add("scope", scope_name(t.scope)).add("name", t.name).add_u64("version", static_cast<uint64_t>(*version));
	req.reply(reply);
	return UBUS_STATUS_OK;
}

void ConfigMethods::add_ap_view(wlc::BlobBuf &reply, const std::string &id)
{
	std::optional<ApRecord> ap = inventory_.find(id);
	if (!ap)
		return;
	EffectiveConfig e = store_.effective(id, ap->site);
	ConfigDelivery d = store_.delivery(id);
	reply.add("site", ap->site).add("group", e.group);
	reply.add_u64("effective_version", static_cast<uint64_t>(e.version));
	reply.add_u64("sent_version", static_cast<uint64_t>(d.sent)).add_u64("sent_at", static_cast<uint64_t>(d.sent_at));
	reply.add_u64("applied_version", static_cast<uint64_t>(d.applied));
	reply.add_u64("applied_at", static_cast<uint64_t>(d.applied_at));
	add_document(reply, "effective", merge_configs(e.documents).value_or("{}"));
}

int ConfigMethods::show(wlc::Request &req, blob_attr *msg)
{
	Fields f;
	Target t;
	std::string error = read_config_fields(msg, f);
	if (error.empty())
		error = read_target(f, t);
	if (!error.empty())
		return fail(req, "config_show", UBUS_STATUS_INVALID_ARGUMENT, error);
	std::optional<ConfigChange> c = store_.current(t.scope, t.name);
	bool known_ap = t.scope == ConfigScope::ap && inventory_.find(t.name).has_value();
	if (!c && !known_ap)
		return fail(req, "config_show", UBUS_STATUS_NOT_FOUND,
			    "no configuration for " + std::string(scope_name(t.scope)) + " " + t.name);
	wlc::BlobBuf reply;
	reply.add("scope", scope_name(t.scope)).add("name", t.name);
	if (c)
		add_change(reply, *c);
	if (t.scope == ConfigScope::ap)
		add_ap_view(reply, t.name);
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int ConfigMethods::history(wlc::Request &req, blob_attr *msg)
{
	Fields f;
	Target t;
	std::string error = read_config_fields(msg, f);
	if (error.empty())
		error = read_target(f, t);
	int32_t limit = f.has(C_LIMIT) ? static_cast<int32_t>(*f.u32(C_LIMIT)) : kDefaultHistory;
	if (error.empty() && (limit < 1 || limit > kMaxHistory))
		error = "'limit' must be 1 to " + std::to_string(kMaxHistory);
	if (!error.empty())
		return fail(req, "config_history", UBUS_STATUS_INVALID_ARGUMENT, error);
	wlc::BlobBuf reply;
	reply.add("scope", scope_name(t.scope)).add("name", t.name);
	{
		auto list = reply.array("changes");
		for (const ConfigChange &c : store_.history(t.scope, t.name, limit)) {
			auto one = reply.table();
			add_change(reply, c);
		}
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int ConfigMethods::set_group(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<G_MAX> f;
	std::string error = read_fields(msg, kGroupPolicy, f);
	std::string id = error.empty() && f.has(G_ID) ? std::string(*f.str(G_ID)) : "";
	std::string group = error.empty() && f.has(G_GROUP) ? std::string(*f.str(G_GROUP)) : "";
	if (error.empty() && !f.has(G_ID))
		error = "'id' is missing";
	else if (error.empty() && !is_device_id(id))
		error = "'" + printable(id) + "' is not a device identifier";
	else if (error.empty() && !group.empty() && !is_site_name(group))
		error = "'group' must be 1 to 32 letters, digits, '.', '_' or '-'";
	if (!error.empty())
		return fail(req, "group_set", UBUS_STATUS_INVALID_ARGUMENT, error);
	if (!inventory_.find(id))
		return fail(req, "group_set", UBUS_STATUS_NOT_FOUND, "no AP " + id);
	if (store_.group_of(id) == group) {
		wlc::BlobBuf reply;
		reply.add("id", id).add("group", group).add("message", "unchanged");
		req.reply(reply);
		return UBUS_STATUS_OK;
	}
	std::optional<int64_t> version = store_.set_group(id, group, who(req));
	if (!version)
		return fail(req, "group_set", UBUS_STATUS_UNKNOWN_ERROR, "inventory not written");
	wlc::logf(LOG_NOTICE, "AP %s is in group %s (version %lld)", id.c_str(), group.empty() ? "none" : group.c_str(),
		  static_cast<long long>(*version));
	changed_();
	wlc::BlobBuf reply;
	reply.add("id", id).add("group", group).add_u64("version", static_cast<uint64_t>(*version));
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace fleet
