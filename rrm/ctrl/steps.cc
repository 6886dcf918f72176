// The controller's channel and power steps, the commands they send, and the
// aggressive mode.
#include "controller.h"

#include <wlc/log.h>

namespace rrm {

void Controller::channel_step()
{
	channel_timer_.set(intervals_[channel]);
	run_step(channel);
}

void Controller::power_step()
{
	power_timer_.set(intervals_[power]);
	run_step(power);
}

void Controller::run_step(Step s)
{
	try {
		if (!refresh_model()) {
			wlc::logf(LOG_DEBUG, "mising data to calculate fresh model");
			return;
		}
		std::vector<Move> moves;
		if (cfg_.site_plan)
			moves = choose_site(s);
		else if (std::optional<Move> move = choose(s))
			moves.push_back(*move);
		if (moves.empty())
			wlc::logf(LOG_DEBUG, "don't need to correct %s now", s == channel ? "channels" : "power");
		for (const Move &m : moves)
			send_move(s, m);
		if (!moves.empty())
			model_->stale = true;
		count_step(s, !moves.empty());
	} catch (const std::exception &e) {
		wlc::logf(LOG_ERR, "step failed: %s", e.what());
	}
}

void Controller::send_move(Step s, const Move &move)
{
	const char *member = s == channel ? "channel" : "power";
	if (s == channel)
		wlc::logf(LOG_INFO, "send channel command to %s (channel %d)", move.id.c_str(), move.value);
	else
		wlc::logf(LOG_INFO, "send power command to %s (%d dBm)", move.id.c_str(), move.value);
	send_command(move.id, "config", [member, v = move.value](wlc::BlobBuf &m) {
		blobmsg_add_u32(m.raw(), member, static_cast<uint32_t>(v));
	});
}

// Rebuilt when reports came, a command was sent, or an AP of the model has
// stopped reporting since; with no AP left there is no model, and "model"
// answers that there is no data rather than showing a past one.
bool Controller::refresh_model()
{
	int64_t now = store_.now();
	if (model_ && !model_->stale && model_->generation == store_.generation() && now <= model_valid_until_)
		return true;
	ReportStore::ModelInputs in = store_.model_inputs(now);
	std::optional<Model> m = build_model(in.aps, cfg_.channels, now, store_.generation(), overlap());
	if (!m) {
		model_.reset();
		return false;
	}
	model_ = std::move(m);
	model_valid_until_ = in.valid_until;
	return true;
}

std::optional<Move> Controller::plan(Step s, const Skip &skip) const
{
	if (s == channel)
		return channel_plan(*model_, cfg_.channels, cfg_.sensitivity, skip);
	return power_plan(*model_, cfg_.pwr_min, cfg_.pwr_max, skip);
}

std::optional<int> Controller::reported(Step s, const std::string &id) const
{
	std::optional<Record> rec = store_.latest(kind_radio, id);
	const RadioReport *r = rec ? std::get_if<RadioReport>(&*rec) : nullptr;
	if (!r)
		return std::nullopt;
	return s == channel ? r->channel : r->power;
}

// The overlap rule of the model: by the channel width only when the
// site-wide plans count it so.
Overlap Controller::overlap() const
{
	bool by_width = cfg_.site_plan && cfg_.width_overlap && (cfg_.width == 20 || cfg_.width == 40 || cfg_.width == 80);
	return Overlap{by_width ? cfg_.width : 0};
}

std::vector<Move> Controller::plan_site(Step s, const Skip &skip)
{
	size_t cap = static_cast<size_t>(cfg_.site_moves);
	if (s == channel)
		return site_channel_plan(*model_, cfg_.channels,
					 {cap, static_cast<unsigned>(cfg_.site_gain), overlap()}, skip, channel_target_);
	return site_power_plan(*model_, cfg_.pwr_min, cfg_.pwr_max, cap, skip);
}

// Forgets moves that were applied and APs left alone long enough or that
// report something new; the APs still left alone this step.
Skip Controller::left_alone(Step s)
{
	std::erase_if(given_up_[s], [&](const auto &g) {
		return g.second.steps_left == 0 || reported(s, g.first) != g.second.reported;
	});
	std::erase_if(pending_[s], [&](const auto &p) {
		auto now = reported(s, p.first);
		return !now || *now == p.second.value;
	});
	Skip skip;
	for (auto &g : given_up_[s]) {
		skip.insert(g.first);
		g.second.steps_left--;
	}
	return skip;
}

// Whether a move may be sent: not once the AP failed to apply the same move
// although newer reports came a few times; it is then left alone for some
// steps, or until what it reports changes, so that the other APs get their
// turn. An AP that cannot take a value (one that never reaches pwr_max) is
// thus still planned now and then.
bool Controller::trusted(Step s, const Move &move)
{
	const ReportStore::ApRecord *ap = store_.find(move.id);
	uint64_t received = ap ? ap->received[kind_radio] : 0;
	auto [it, fresh] = pending_[s].try_emplace(move.id, Pending{move.value, received, 0});
	Pending &p = it->second;
	if (fresh || p.value != move.value) {
		p = {move.value, received, 0};
		return true;
	}
	if (received > p.reports_at_send) {
		p.misses++;
		p.reports_at_send = received;
	}
	if (p.misses < max_missed_moves)
		return true;
	wlc::logf(LOG_NOTICE, "%s did not apply %s %d, leave it alone", move.id.c_str(), s == channel ? "channel" : "power",
		  move.value);
	given_up_[s][move.id] = {reported(s, move.id).value_or(0), left_alone_steps};
	pending_[s].erase(it);
	return false;
}

// The plan's move, unless its AP is not to be trusted with it.
std::optional<Move> Controller::choose(Step s)
{
	Skip skip = left_alone(s);
	for (;;) {
		std::optional<Move> move = plan(s, skip);
		if (!move || trusted(s, *move))
			return move;
		skip.insert(move->id);
	}
}

// The site-wide plan's moves; planned again without the APs not to be
// trusted with theirs.
std::vector<Move> Controller::choose_site(Step s)
{
	Skip skip = left_alone(s);
	for (;;) {
		std::vector<Move> moves = plan_site(s, skip);
		size_t before = skip.size();
		for (const Move &m : moves)
			if (!trusted(s, m))
				skip.insert(m.id);
		if (skip.size() == before)
			return moves;
	}
}

void Controller::count_step(Step s, bool changed)
{
	if (!mode_.active())
		return;
	if (changed) {
		no_change_counters_ = {0, 0};
		return;
	}
	no_change_counters_[s]++;
	if (no_change_counters_[channel] > 2 && no_change_counters_[power] > 5) {
		wlc::logf(LOG_INFO, "no changes counter exceed, disable agressive mode");
		mode_.disable();
	}
}

void Controller::send_command(const std::string &target, const char *command, const Publisher::Fill &fill)
{
	std::string topic = "zev/wlc/rrm/" + cfg_.site + "/ap/" + target + "/" + std::to_string(cfg_.radio) + "/cmd/" + command;
	SendResult r = publisher_.send(topic, fill);
	if (r == SendResult::no_object)
		wlc::logf(LOG_WARNING, "failed to send command: ubus obj not found");
	else if (r == SendResult::invoke_failed)
		wlc::logf(LOG_WARNING, "failed to send command: ubus invoke failed");
}

void Controller::enter_aggressive()
{
	saved_intervals_ = intervals_;
	set_interval(power, aggressive_power_interval_ms);
	set_interval(channel, aggressive_channel_interval_ms);
	no_change_counters_ = {0, 0};
	wlc::logf(LOG_NOTICE, "switch to agressive mode");
}

void Controller::refresh_aggressive(int timeout_s)
{
	wlc::logf(LOG_DEBUG, "agressive mode timeout is %d sec", timeout_s);
	wlc::logf(LOG_INFO, "send command to enable agressive mode to all agents");
	send_command("all", "agressive", [timeout_s](wlc::BlobBuf &m) {
		m.add_bool("enable", timeout_s > 0);
		if (timeout_s > 0)
			blobmsg_add_u32(m.raw(), "timeout", static_cast<uint32_t>(timeout_s));
	});
}

void Controller::leave_aggressive(bool timed_out)
{
	set_interval(power, saved_intervals_[power]);
	set_interval(channel, saved_intervals_[channel]);
	wlc::logf(LOG_NOTICE, "%sswitch to main mode", timed_out ? "agressive mode timed out, " : "");
	wlc::logf(LOG_INFO, "send command to disable agressive mode to all agents");
	send_command("all", "agressive", [](wlc::BlobBuf &m) { m.add_bool("enable", false); });
}

} // namespace rrm
