// The device's ubus session service as a login sees it: "login" for an
// exclusive "cli" session, "set" to record who logged in, "destroy" at logout.
#pragma once

#include <wlc/bus.h>

#include <cstdint>
#include <optional>
#include <string>

namespace pamrpc {

// What the "login" reply said.
enum class Outcome {
	NoReply = 0,    // no reply at all
	Unanswered = 1, // a reply without any of the fields below (wrong password there)
	Blocked = 2,    // "blocked_for"
	Concurrent = 3, // "concurrent_session" true: the user already has a session
	Granted = 4,    // "ubus_rpc_session"
};

struct LoginResult {
	Outcome outcome = Outcome::NoReply;
	std::string session; // with Granted
};

// Who logged in, recorded with "set".
struct SessionValues {
	uint64_t start = 0;
	uint32_t pid = 0;
	std::string id; // 16 lower-case hexadecimal digits
	std::optional<std::string> service, remote;
};

// Reads one "login" reply into result (the last reply wins).
void read_login_reply(blob_attr *msg, LoginResult &result);

class SessionService {
public:
	// Connects to the bus (up to 100 attempts, 100 µs apart) and finds
	// "session"; false when either fails.
	[[nodiscard]] bool connect();
	[[nodiscard]] LoginResult login(const char *user, const char *password);
	// The bus status of each call.
	int set(const std::string &session, const SessionValues &values);
	int destroy(const std::string &session);

	static constexpr int kTimeoutMs = 500;

private:
	static void on_login(ubus_request *req, int type, blob_attr *msg) noexcept;

	wlc::Bus bus_;
	uint32_t object_ = 0;
};

} // namespace pamrpc
