// Join approval: the mode of each site, and what a join or a presence
// message does to an AP's state. Pure functions of their arguments.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "inventory/inventory.h"

namespace fleet {

// "auto": every join is approved (the broker already checked the AP's
// certificate); "allow": only APs whose serial or MAC was registered;
// "manual": an operator approves each one.
enum class ApprovalMode { automatic, allow, manual };
std::optional<ApprovalMode> parse_mode(std::string_view text);
std::string_view mode_name(ApprovalMode mode);

class ApprovalPolicy {
public:
	explicit ApprovalPolicy(ApprovalMode fallback = ApprovalMode::manual) : fallback_(fallback) {}
	void set_default(ApprovalMode mode) { fallback_ = mode; }
	void set(const std::string &site, ApprovalMode mode) { sites_[site] = mode; }
	[[nodiscard]] ApprovalMode mode_of(const std::string &site) const;

private:
	ApprovalMode fallback_;
	std::map<std::string, ApprovalMode> sites_;
};

struct JoinDecision {
	ApState state;
	bool respond; // publish JOIN_RESP
	std::vector<EventNote> events;
};
// current: the AP's state, none for an AP not yet known; registered: its
// serial or MAC is on the allow list. The repeated joins of an AP that
// stays pending or refused add no event.
[[nodiscard]] JoinDecision decide_join(std::optional<ApState> current, ApprovalMode mode, bool registered);

struct PresenceDecision {
	ApState state;
	std::vector<EventNote> events;
};
// joining: the AP sent a join request and this is the presence its join
// connection announces, not yet its adopted session's.
[[nodiscard]] PresenceDecision decide_presence(std::optional<ApState> current, bool online, bool joining);

} // namespace fleet
