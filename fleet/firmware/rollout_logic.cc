// Staged rollout steps.
#include "rollout_logic.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <map>
#include <set>

namespace fleet {

namespace {

constexpr std::array<std::string_view, 5> kNames = {"queued", "offered", "installing", "done", "failed"};

bool move(FwTrack &t, FwState to, int64_t now, std::string detail)
{
	t.state = to;
	t.since = now;
	t.detail = std::move(detail);
	return true;
}

// Follows one AP from what the inventory shows; true when it changed.
bool follow(const RolloutLimits &limits, const std::string &revision, FwTrack &t, const SeeAp &see, int64_t now)
{
	if (t.state == FwState::done || t.state == FwState::failed)
		return false;
	std::optional<ApSeen> ap = see(t.ap);
	if (!ap)
		return move(t, FwState::failed, now, "gone from the inventory");
	if (ap->online && same_revision(ap->revision, revision))
		return move(t, FwState::done, now, "runs " + ap->revision);
	if (t.state == FwState::queued)
		return false;
	if (now - t.since > limits.timeout)
		return move(t, FwState::failed, now, "no return with " + revision + " in " + std::to_string(limits.timeout) + " s");
	bool went_down = t.state == FwState::installing || ap->last_offline >= t.since;
	if (t.state == FwState::offered && !ap->online)
		return move(t, FwState::installing, now, "offline to install");
	if (went_down && ap->online)
		return move(t, FwState::failed, now, "back with " + ap->revision);
	return false;
}

} // namespace

std::string_view fw_state_name(FwState s)
{
	return kNames[static_cast<size_t>(s)];
}

std::optional<FwState> parse_fw_state(std::string_view s)
{
	for (size_t i = 0; i < kNames.size(); i++)
		if (kNames[i] == s)
			return static_cast<FwState>(i);
	return std::nullopt;
}

bool same_revision(std::string_view a, std::string_view b)
{
	return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
		       return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
	       });
}

RolloutStep step_rollout(const RolloutLimits &limits, const std::string &revision, std::vector<FwTrack> &tracks,
			 const SeeAp &see, int64_t now)
{
	RolloutStep out;
	int64_t failures = 0, in_progress = 0;
	std::map<std::string, std::vector<size_t>> queued;
	std::set<std::string> reoffer;
	for (size_t i = 0; i < tracks.size(); i++) {
		FwTrack &t = tracks[i];
		if (follow(limits, revision, t, see, now))
			out.changed.push_back(i);
		failures += t.state == FwState::failed;
		in_progress += t.state == FwState::offered || t.state == FwState::installing;
		if (t.state == FwState::queued)
			queued[t.model].push_back(i);
		if (t.state == FwState::offered && now - t.last_offer >= limits.reoffer)
			reoffer.insert(t.model);
	}
	out.halted = failures >= limits.max_failures;
	out.finished = in_progress == 0 && queued.empty();
	if (out.halted)
		return out;
	for (const auto &[model, waiting] : queued) {
		int64_t n = static_cast<int64_t>(waiting.size());
		if (in_progress + n > limits.max_parallel) {
			if (in_progress == 0)
				out.note = std::to_string(n) + " APs of model " + model +
					   " wait for one offer, more than the limit of " + std::to_string(limits.max_parallel);
			continue;
		}
		in_progress += n;
		reoffer.insert(model);
		for (size_t i : waiting) {
			move(tracks[i], FwState::offered, now, "FIRMWARE offered");
			out.changed.push_back(i);
		}
	}
	for (size_t i = 0; i < tracks.size(); i++) {
		FwTrack &t = tracks[i];
		if (t.state != FwState::offered || !reoffer.contains(t.model))
			continue;
		t.last_offer = now;
		if (std::find(out.changed.begin(), out.changed.end(), i) == out.changed.end())
			out.changed.push_back(i);
	}
	out.offers.assign(reoffer.begin(), reoffer.end());
	return out;
}

} // namespace fleet
