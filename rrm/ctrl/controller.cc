// The controller's bus object and its methods.
#include "controller.h"

#include <wlc/log.h>

namespace rrm {

namespace {

enum { report_type, report_id, report_data };
enum { config_channel, config_power };
enum { site_plan, site_moves, site_gain, site_width_overlap };

const std::array<blobmsg_policy, 4> site_policy = {{{"site_plan", BLOBMSG_TYPE_BOOL},
						     {"site_moves", BLOBMSG_TYPE_INT32},
						     {"site_gain", BLOBMSG_TYPE_INT32},
						     {"width_overlap", BLOBMSG_TYPE_BOOL}}};

bool in_range(std::optional<uint32_t> v, int lo, int hi)
{
	return v && static_cast<int32_t>(*v) >= lo && static_cast<int32_t>(*v) <= hi;
}

std::optional<int> checked_ms(std::optional<uint32_t> seconds)
{
	int64_t ms = static_cast<int64_t>(static_cast<int32_t>(*seconds)) * 1000;
	if (ms <= 0 || ms > INT32_MAX)
		return std::nullopt;
	return static_cast<int>(ms);
}

} // namespace

Controller::Controller(Config cfg, wlc::Bus &bus, Clock clock)
	: cfg_(std::move(cfg)), bus_(bus), clock_(std::move(clock)),
	  store_(cfg_.db_path, static_cast<uint64_t>(cfg_.history_length), clock_,
		 max_aps_for(static_cast<size_t>(cfg_.store_budget_mib) << 20),
		 static_cast<size_t>(cfg_.store_budget_mib) << 20),
	  publisher_(bus),
	  mode_({[this] { enter_aggressive(); }, [this](bool t) { leave_aggressive(t); },
		 [this](int s) { refresh_aggressive(s); }})
{
}

int Controller::start()
{
	size_t loaded = store_.load();
	wlc::logf(LOG_DEBUG, "loaded reports of %zu APs", loaded);
	set_interval(power, default_power_interval_ms);
	set_interval(channel, default_channel_interval_ms);
	std::string name = "rrm_ctrl." + cfg_.site + "." + std::to_string(cfg_.radio);
	object_ = std::make_unique<wlc::BusObject>(name, methods(), "rrm_ctrl");
	return object_->add(bus_);
}

std::vector<wlc::Method> Controller::methods()
{
	using P = blobmsg_policy;
	return {
		{"model", {}, [this](wlc::Request &r, blob_attr *) { return on_model(r); }},
		{"config",
		 {P{"channel_timer", BLOBMSG_TYPE_INT32}, P{"power_timer", BLOBMSG_TYPE_INT32}, site_policy[0], site_policy[1],
		  site_policy[2], site_policy[3]},
		 [this](wlc::Request &r, blob_attr *m) { return on_config(r, m); }},
		{"report_add",
		 {P{"type", BLOBMSG_TYPE_STRING}, P{"id", BLOBMSG_TYPE_STRING}, P{"data", BLOBMSG_TYPE_TABLE}},
		 [this](wlc::Request &, blob_attr *m) { return on_report_add(m); }},
		{"report_list",
		 {P{"type", BLOBMSG_TYPE_STRING}, P{"id", BLOBMSG_TYPE_STRING}, P{"limit", BLOBMSG_TYPE_INT32}},
		 [this](wlc::Request &r, blob_attr *m) { return on_report_list(r, m); }},
		{"agressive",
		 {P{"enable", BLOBMSG_TYPE_BOOL}, P{"timeout", BLOBMSG_TYPE_INT32}},
		 [this](wlc::Request &, blob_attr *m) { return mode_.handle(m); }},
	};
}

int Controller::on_model(wlc::Request &req)
{
	if (!model_)
		return UBUS_STATUS_NO_DATA;
	wlc::BlobBuf buf;
	encode_model(buf, *model_);
	if (blob_raw_len(buf.head()) > max_reply_bytes) {
		wlc::logf(LOG_WARNING, "model reply too large");
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	req.reply(buf);
	return 0;
}

int Controller::on_config(wlc::Request &req, blob_attr *msg)
{
	static const std::array<blobmsg_policy, 2> policy = {
		{{"channel_timer", BLOBMSG_TYPE_INT32}, {"power_timer", BLOBMSG_TYPE_INT32}}};
	wlc::Fields<2> f;
	f.parse(policy, msg);
	bool invalid = false;
	for (Step s : {channel, power}) {
		size_t field = s == channel ? config_channel : config_power;
		if (!f.has(field))
			continue;
		if (std::optional<int> ms = checked_ms(f.u32(field)))
			set_interval(s, *ms);
		else
			invalid = true;
	}
	bool site_given = false;
	if (!config_site(msg, site_given))
		invalid = true;
	wlc::BlobBuf buf;
	blobmsg_add_u32(buf.raw(), "channel_timer", static_cast<uint32_t>(intervals_[channel] / 1000));
	blobmsg_add_u32(buf.raw(), "power_timer", static_cast<uint32_t>(intervals_[power] / 1000));
	if (site_given || cfg_.site_plan) {
		buf.add_bool("site_plan", cfg_.site_plan);
		blobmsg_add_u32(buf.raw(), "site_moves", static_cast<uint32_t>(cfg_.site_moves));
		blobmsg_add_u32(buf.raw(), "site_gain", static_cast<uint32_t>(cfg_.site_gain));
		buf.add_bool("width_overlap", cfg_.width_overlap);
	}
	req.reply(buf);
	return invalid ? UBUS_STATUS_INVALID_ARGUMENT : 0;
}

// The site-wide plans' members of "config": each valid one takes effect;
// false when one is out of range. A changed overlap rule rebuilds the model.
bool Controller::config_site(blob_attr *msg, bool &given)
{
	wlc::Fields<4> f;
	f.parse(site_policy, msg);
	bool valid = true;
	Overlap before = overlap();
	for (size_t i = 0; i < site_policy.size(); i++)
		given = given || f.has(i);
	if (auto on = f.boolean(site_plan); on && *on != cfg_.site_plan) {
		cfg_.site_plan = *on;
		channel_target_.clear(); // a target from before is not followed
	}
	if (auto on = f.boolean(site_width_overlap))
		cfg_.width_overlap = *on;
	if (f.has(site_moves) && !in_range(f.u32(site_moves), 1, max_site_moves))
		valid = false;
	else if (f.has(site_moves))
		cfg_.site_moves = static_cast<int>(*f.u32(site_moves));
	if (f.has(site_gain) && !in_range(f.u32(site_gain), 0, 100))
		valid = false;
	else if (f.has(site_gain))
		cfg_.site_gain = static_cast<int>(*f.u32(site_gain));
	if (model_ && overlap().width != before.width)
		model_->stale = true;
	return valid;
}

int Controller::on_report_add(blob_attr *msg)
{
	static const std::array<blobmsg_policy, 3> policy = {
		{{"type", BLOBMSG_TYPE_STRING}, {"id", BLOBMSG_TYPE_STRING}, {"data", BLOBMSG_TYPE_TABLE}}};
	wlc::Fields<3> f;
	if (!f.parse(policy, msg) || !f.has(report_type) || !f.has(report_id) || !f.has(report_data))
		return UBUS_STATUS_INVALID_ARGUMENT;
	return store_.add(*f.str(report_type), *f.str(report_id), f[report_data]);
}

int Controller::on_report_list(wlc::Request &req, blob_attr *msg)
{
	static const std::array<blobmsg_policy, 3> policy = {
		{{"type", BLOBMSG_TYPE_STRING}, {"id", BLOBMSG_TYPE_STRING}, {"limit", BLOBMSG_TYPE_INT32}}};
	wlc::Fields<3> f;
	f.parse(policy, msg);
	wlc::BlobBuf buf;
	int status = store_.list(buf, f.str(0), f.str(1), f.u32(2).value_or(UINT32_MAX), max_reply_bytes);
	if (status == UBUS_STATUS_UNKNOWN_ERROR)
		wlc::logf(LOG_WARNING, "report list too large, ask for less");
	if (status == 0)
		req.reply(buf);
	return status;
}

void Controller::set_interval(Step s, int ms)
{
	intervals_[s] = ms;
	wlc::Timer &t = s == channel ? channel_timer_ : power_timer_;
	if (!t.pending() || t.remaining() > ms)
		t.set(ms);
}

} // namespace rrm
