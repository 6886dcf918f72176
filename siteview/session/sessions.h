// Logged-in sessions: each an unguessable identifier, the user, the calls
// granted and an idle time-out renewed by every access check.
#pragma once

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "acl.h"

namespace siteview {

// The session of callers that have not logged in: it may only log in.
inline constexpr const char *kNullSession = "00000000000000000000000000000000";

struct Session {
	std::string username;
	std::vector<Grant> calls;
	std::chrono::seconds timeout{};
	std::chrono::steady_clock::time_point expires;
};

class SessionTable {
public:
	using Clock = std::chrono::steady_clock;

	// A new session; nullopt when no identifier could be drawn.
	[[nodiscard]] std::optional<std::string> create(const std::string &username, std::vector<Grant> calls,
							 std::chrono::seconds timeout);
	// The live session, nullptr when unknown or expired (an expired one is removed).
	const Session *find(const std::string &id);
	// Whether the session may make the call; renews it when known.
	[[nodiscard]] bool allowed(const std::string &id, const std::string &scope, const std::string &object,
				   const std::string &function);
	bool destroy(const std::string &id);
	size_t size() const { return sessions_.size(); }
	// Removes the sessions that have expired; their users.
	std::vector<std::string> drop_expired();
	// When the next session expires; nullopt when there is none.
	[[nodiscard]] std::optional<Clock::time_point> next_expiry() const;

private:

	std::map<std::string, Session> sessions_;
};

} // namespace siteview
