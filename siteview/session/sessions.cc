// The session table.
#include "sessions.h"

#include <array>
#include <cstdio>
#include <sys/random.h>

namespace siteview {

namespace {

std::optional<std::string> random_id()
{
	std::array<unsigned char, 16> b{};
	if (getrandom(b.data(), b.size(), 0) != static_cast<ssize_t>(b.size()))
		return std::nullopt;
	std::string hex;
	for (unsigned char c : b) {
		std::array<char, 3> two{};
		std::snprintf(two.data(), two.size(), "%02x", c);
		hex += two.data();
	}
	return hex == kNullSession ? std::nullopt : std::optional<std::string>(hex);
}

} // namespace

std::optional<std::string> SessionTable::create(const std::string &username, std::vector<Grant> calls,
						std::chrono::seconds timeout)
{
	std::optional<std::string> id = random_id();
	if (!id || sessions_.count(*id))
		return std::nullopt;
	sessions_[*id] = {username, std::move(calls), timeout, Clock::now() + timeout};
	return id;
}

const Session *SessionTable::find(const std::string &id)
{
	auto it = sessions_.find(id);
	if (it == sessions_.end())
		return nullptr;
	if (it->second.expires <= Clock::now()) {
		sessions_.erase(it);
		return nullptr;
	}
	return &it->second;
}

bool SessionTable::allowed(const std::string &id, const std::string &scope, const std::string &object,
			   const std::string &function)
{
	if (scope != "ubus")
		return false;
	if (id == kNullSession)
		return object == "session" && (function == "login" || function == "access");
	if (!find(id))
		return false;
	auto it = sessions_.find(id);
	it->second.expires = Clock::now() + it->second.timeout;
	return grants(it->second.calls, object, function);
}

bool SessionTable::destroy(const std::string &id)
{
	return find(id) && sessions_.erase(id) == 1;
}

std::vector<std::string> SessionTable::drop_expired()
{
	const Clock::time_point now = Clock::now();
	std::vector<std::string> users;
	std::erase_if(sessions_, [&](const auto &entry) {
		if (entry.second.expires > now)
			return false;
		users.push_back(entry.second.username);
		return true;
	});
	return users;
}

std::optional<SessionTable::Clock::time_point> SessionTable::next_expiry() const
{
	std::optional<Clock::time_point> next;
	for (const auto &[id, s] : sessions_)
		if (!next || s.expires < *next)
			next = s.expires;
	return next;
}

} // namespace siteview
