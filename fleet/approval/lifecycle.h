// An AP's way through the inventory: joins and presence messages recorded
// with the state they lead to, approvals answered with JOIN_RESP, and the
// operator's approve, refuse and forget.
#pragma once

#include <functional>
#include <set>
#include <string>
#include <vector>

#include "approval/policy.h"
#include "inventory/inventory.h"

namespace fleet {

enum class Outcome { done, unchanged, not_found, store_failed };

class Lifecycle {
public:
	// respond publishes the JOIN_RESP of an AP.
	using Respond = std::function<void(const std::string &id)>;
	Lifecycle(Inventory &inventory, const ApprovalPolicy &policy, std::string default_site, Respond respond);

	// False when the inventory could not record it (nothing changed).
	[[nodiscard]] bool on_join(const JoinInfo &join);
	[[nodiscard]] bool on_presence(const PresenceInfo &presence);

	[[nodiscard]] Outcome approve(const std::string &id, const std::string &who);
	[[nodiscard]] Outcome refuse(const std::string &id, const std::string &who);
	[[nodiscard]] Outcome forget(const std::string &id, const std::string &who);

	// While held, JOIN_RESPs wait (their records are not durable before the
	// batch they are part of commits); release sends them when it did, and
	// drops them when it did not (the AP's next join is answered).
	void hold_responses() { holding_ = true; }
	void release_responses(bool committed);

private:
	void respond(const std::string &id);

	std::string site_for(const JoinInfo &join, const std::optional<ApRecord> &known, bool &registered);

	Inventory &inventory_;
	const ApprovalPolicy &policy_;
	std::string default_site_;
	Respond respond_;
	// APs whose join request came in and whose join connection's own
	// presence message has not yet: that one does not mean adoption.
	std::set<std::string> joining_;
	bool holding_ = false;
	std::vector<std::string> held_;
};

} // namespace fleet
