// An AP's way through the inventory.
#include "lifecycle.h"

#include <wlc/log.h>

#include <algorithm>

namespace fleet {

Lifecycle::Lifecycle(Inventory &inventory, const ApprovalPolicy &policy, std::string default_site, Respond respond)
	: inventory_(inventory), policy_(policy), default_site_(std::move(default_site)), respond_(std::move(respond))
{
}

void Lifecycle::respond(const std::string &id)
{
	if (holding_)
		held_.push_back(id);
	else
		respond_(id);
}

void Lifecycle::release_responses(bool committed)
{
	holding_ = false;
	std::vector<std::string> held = std::move(held_);
	held_.clear();
	if (committed)
		std::for_each(held.begin(), held.end(), respond_);
}

std::string Lifecycle::site_for(const JoinInfo &join, const std::optional<ApRecord> &known, bool &registered)
{
	std::optional<std::string> listed = inventory_.allowed_site(join.serial, join.mac.value_or(""));
	registered = listed.has_value();
	if (known)
		return known->site;
	return listed.value_or(default_site_);
}

bool Lifecycle::on_join(const JoinInfo &join)
{
	std::optional<ApRecord> known = inventory_.find(join.id);
	bool registered = false;
	std::string site = site_for(join, known, registered);
	std::optional<ApState> current;
	if (known)
		current = known->state;
	JoinDecision d = decide_join(current, policy_.mode_of(site), registered);
	if (!inventory_.save_join(join, site, d.state, d.events))
		return false;
	joining_.insert(join.id);
	if (d.state == ApState::approved && current != ApState::approved && current != ApState::adopted &&
	    current != ApState::offline)
		wlc::logf(LOG_NOTICE, "AP %s approved (%s) in site %s", join.id.c_str(),
			  std::string(mode_name(policy_.mode_of(site))).c_str(), site.c_str());
	else if (d.state == ApState::pending && !known)
		wlc::logf(LOG_NOTICE, "AP %s waits for approval in site %s", join.id.c_str(), site.c_str());
	if (d.respond)
		respond(join.id);
	return true;
}

bool Lifecycle::on_presence(const PresenceInfo &p)
{
	std::optional<ApRecord> known = inventory_.find(p.id);
	std::optional<ApState> current;
	if (known)
		current = known->state;
	bool joining = p.online && joining_.contains(p.id);
	PresenceDecision d = decide_presence(current, p.online, joining);
	if (!inventory_.save_presence(p, known ? known->site : default_site_, d.state, d.events))
		return false;
	if (p.online)
		joining_.erase(p.id);
	if (current != d.state && (d.state == ApState::adopted || d.state == ApState::offline))
		wlc::logf(LOG_NOTICE, "AP %s is %s", p.id.c_str(), std::string(state_name(d.state)).c_str());
	return true;
}

Outcome Lifecycle::approve(const std::string &id, const std::string &who)
{
	std::optional<ApRecord> known = inventory_.find(id);
	if (!known)
		return Outcome::not_found;
	if (known->state != ApState::pending && known->state != ApState::refused)
		return Outcome::unchanged;
	if (!inventory_.set_state(id, ApState::approved, {"approval", who}))
		return Outcome::store_failed;
	wlc::logf(LOG_NOTICE, "AP %s approved (%s) in site %s", id.c_str(), who.c_str(), known->site.c_str());
	// Reaches the AP if its join connection is up now; otherwise its next
	// join request is answered.
	respond(id);
	return Outcome::done;
}

Outcome Lifecycle::refuse(const std::string &id, const std::string &who)
{
	std::optional<ApRecord> known = inventory_.find(id);
	if (!known)
		return Outcome::not_found;
	if (known->state == ApState::refused)
		return Outcome::unchanged;
	if (!inventory_.set_state(id, ApState::refused, {"refusal", who}))
		return Outcome::store_failed;
	wlc::logf(LOG_NOTICE, "AP %s refused (%s)", id.c_str(), who.c_str());
	return Outcome::done;
}

Outcome Lifecycle::forget(const std::string &id, const std::string &who)
{
	if (!inventory_.find(id))
		return Outcome::not_found;
	if (!inventory_.forget(id, {"forget", who}))
		return Outcome::store_failed;
	joining_.erase(id);
	wlc::logf(LOG_NOTICE, "AP %s forgotten (%s)", id.c_str(), who.c_str());
	return Outcome::done;
}

} // namespace fleet
