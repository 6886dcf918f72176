// The gateway in this test's process on a device of its own: the bus
// daemon, fleetd (site approvals by hand), the session service with the
// shipped access lists and two logins, "admin" (both roles) and "viewer"
// (read-only).
#pragma once

#include <json-c/json.h>

#include <memory>
#include <string>

#include "fleetd_fixture.h"
#include "rpc.h"

namespace siteviewtest {

inline constexpr const char *kAdminPassword = "admin-secret";
inline constexpr const char *kViewerPassword = "viewer-secret";
// The session of a caller that has not logged in.
inline constexpr const char *kNullSession = "00000000000000000000000000000000";

using Json = std::unique_ptr<json_object, decltype(&json_object_put)>;

// The parsed text (null when it is no JSON).
Json parse(const std::string &text);
// The member at a path of names and array indexes, e.g. {"result", "1", "id"}.
json_object *at(json_object *root, std::initializer_list<std::string> path);
// A crypt(3) SHA-256 hash of the password from openssl's passwd.
std::string password_hash(const std::string &password);
// The logins file with admin and viewer.
std::string logins_json();

class GatewayTest : public fleettest::FleetdTest {
protected:
	void SetUp() override;
	void TearDown() override;

	std::string rpc(const std::string &body) { return gateway_->handle(body); }
	// A "call" request's answer.
	std::string call_rpc(const std::string &session, const std::string &object, const std::string &method,
			     const std::string &args_json);
	// The session id of a login, empty when refused.
	std::string login(const std::string &user, const std::string &password, int timeout = 0);
	std::string session_log() const;

	std::unique_ptr<wlctest::Process> session_;
	std::unique_ptr<siteview::Gateway> gateway_;
};

// The JSON-RPC error code of an answer, 0 when it has none.
int error_code(const std::string &answer);
// The bus status of a call's answer, -1 when it has none.
int status_of(const std::string &answer);

} // namespace siteviewtest
