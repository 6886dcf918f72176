// Join approval decisions.
#include "policy.h"

namespace fleet {

std::optional<ApprovalMode> parse_mode(std::string_view text)
{
	if (text == "auto")
		return ApprovalMode::automatic;
	if (text == "allow")
		return ApprovalMode::allow;
	if (text == "manual")
		return ApprovalMode::manual;
	return std::nullopt;
}

std::string_view mode_name(ApprovalMode mode)
{
	switch (mode) {
	case ApprovalMode::automatic:
		return "auto";
	case ApprovalMode::allow:
		return "allow";
	case ApprovalMode::manual:
		break;
	}
	return "manual";
}

ApprovalMode ApprovalPolicy::mode_of(const std::string &site) const
{
	auto it = sites_.find(site);
	return it == sites_.end() ? fallback_ : it->second;
}

JoinDecision decide_join(std::optional<ApState> current, ApprovalMode mode, bool registered)
{
	// An AP that is refused, or still waiting, retries about twice a
	// minute: its first join is in the history, the last one in last_seen.
	if (current == ApState::refused)
		return {ApState::refused, false, {}};
	// Approved before: the AP lost its adoption (reset, new certificate) and
	// is answered again; it is adopted once its session is up.
	if (current && current != ApState::pending)
		return {ApState::approved, true, {{"join", "approved before: answered"}}};
	if (mode == ApprovalMode::automatic)
		return {ApState::approved, true, {{"join", ""}, {"approval", "auto"}}};
	if (mode == ApprovalMode::allow && registered)
		return {ApState::approved, true, {{"join", ""}, {"approval", "allow list"}}};
	if (current == ApState::pending)
		return {ApState::pending, false, {}};
	return {ApState::pending, false,
		{{"join", mode == ApprovalMode::allow ? "pending: not on the allow list" : "pending: manual approval"}}};
}

PresenceDecision decide_presence(std::optional<ApState> current, bool online, bool joining)
{
	const char *kind = online ? "online" : "offline";
	if (!current)
		return {ApState::pending, {{kind, "not joined"}}};
	switch (*current) {
	case ApState::approved:
		if (online && !joining)
			return {ApState::adopted, {{"adoption", ""}}};
		return {ApState::approved, {}};
	case ApState::adopted:
		if (!online)
			return {ApState::offline, {{"offline", ""}}};
		return {ApState::adopted, {}};
	case ApState::offline:
		if (online && !joining)
			return {ApState::adopted, {{"online", ""}}};
		return {ApState::offline, {}};
	case ApState::pending:
	case ApState::refused:
		break;
	}
	return {*current, {}};
}

} // namespace fleet
