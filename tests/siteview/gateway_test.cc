// The JSON-RPC gateway against the real bus, fleetd and the session
// service: request checks and their errors, logins, sessions and what each
// role may call.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "gateway_fixture.h"

namespace siteviewtest {
namespace {

constexpr const char *kAp = "ap1-a3-b4-c5";

TEST_F(GatewayTest, MalformedRequestsGetTheirErrors)
{
	struct Case {
		std::string body;
		int code;
	};
	const std::string big(siteview::kMaxRequestBytes + 1, ' ');
	const std::vector<Case> cases = {
		{"not json", -32700},
		{R"({"jsonrpc":"2.0","id":1,"method":"list"} trailing)", -32700},
		{big, -32700},
		{R"("a string")", -32600},
		{R"({"jsonrpc":"2.0","id":1})", -32600},
		{R"({"jsonrpc":"1.0","id":1,"method":"list"})", -32600},
		{R"({"jsonrpc":"2.0","id":1,"method":"nosuch","params":[]})", -32601},
		{R"({"jsonrpc":"2.0","id":1,"method":"call","params":["s","fleet","list"]})", -32602},
		{R"({"jsonrpc":"2.0","id":1,"method":"call","params":["s","fleet","list",[]]})", -32602},
		{R"({"jsonrpc":"2.0","id":1,"method":"call","params":[1,"fleet","list",{}]})", -32602},
		{R"({"jsonrpc":"2.0","id":1,"method":"call","params":["s","fleet","list",{"ubus_rpc_session":"x"}]})", -32602},
		{R"({"jsonrpc":"2.0","id":1,"method":"call","params":["s","no.such.object","list",{}]})", -32000},
		{R"({"jsonrpc":"2.0","id":1,"method":"list","params":"fleet"})", -32602},
	};
	for (const Case &c : cases)
		EXPECT_EQ(error_code(rpc(c.body)), c.code) << c.body.substr(0, 100);
	// The id comes back as it was given.
	Json a = parse(rpc(R"({"jsonrpc":"2.0","id":"abc","method":"nosuch"})"));
	ASSERT_TRUE(at(a.get(), {"id"}));
	EXPECT_STREQ(json_object_get_string(at(a.get(), {"id"})), "abc");
	EXPECT_STREQ(json_object_get_string(at(a.get(), {"error", "message"})), "Method not found");
}

TEST_F(GatewayTest, BatchesAnswerEachRequestInOrder)
{
	Json a = parse(rpc(R"([{"jsonrpc":"2.0","id":1,"method":"nosuch"},)"
			   R"({"jsonrpc":"2.0","id":2,"method":"list","params":["session"]}])"));
	ASSERT_TRUE(a && json_object_is_type(a.get(), json_type_array));
	ASSERT_EQ(json_object_array_length(a.get()), 2u);
	EXPECT_EQ(json_object_get_int(at(a.get(), {"0", "error", "code"})), -32601);
	EXPECT_EQ(json_object_get_int(at(a.get(), {"1", "id"})), 2);
	EXPECT_TRUE(at(a.get(), {"1", "result", "session", "login", "username"}));
}

TEST_F(GatewayTest, ListsObjectsAndTheirSignatures)
{
	std::string names = rpc(R"({"jsonrpc":"2.0","id":1,"method":"list"})");
	EXPECT_NE(names.find(R"("fleet")"), std::string::npos) << names;
	EXPECT_NE(names.find(R"("session")"), std::string::npos) << names;
	Json a = parse(rpc(R"({"jsonrpc":"2.0","id":1,"method":"list","params":["fleet"]})"));
	json_object *site = at(a.get(), {"result", "fleet", "list", "site"});
	ASSERT_TRUE(site);
	EXPECT_STREQ(json_object_get_string(site), "string");
	EXPECT_STREQ(json_object_get_string(at(a.get(), {"result", "fleet", "list", "limit"})), "number");
}

TEST_F(GatewayTest, LoginWithTheRightPasswordOnly)
{
	std::string answer = call_rpc(kNullSession, "session", "login",
				      std::string(R"({"username":"admin","password":")") + kAdminPassword + "\"}");
	Json a = parse(answer);
	json_object *sid = at(a.get(), {"result", "1", "ubus_rpc_session"});
	ASSERT_TRUE(sid) << answer;
	EXPECT_EQ(std::string(json_object_get_string(sid)).size(), 32u);
	EXPECT_STREQ(json_object_get_string(at(a.get(), {"result", "1", "data", "username"})), "admin");
	EXPECT_NE(answer.find(R"("fleet":["approve","config_set","history","list","log_show","reboot","rollout_start",)"
			      R"("rrm_commands","show","site_summary","telemetry_series","telemetry_show"])"),
		  std::string::npos)
		<< answer;
	// A wrong password, an unknown user and a user's password for another
	// are refused with the bus's permission status, and no session.
	for (auto [user, password] : std::vector<std::pair<std::string, std::string>>{
		     {"admin", "wrong"}, {"admin", ""}, {"nobody", kAdminPassword}, {"admin", kViewerPassword}}) {
		std::string refused = call_rpc(kNullSession, "session", "login",
					       R"({"username":")" + user + R"(","password":")" + password + "\"}");
		EXPECT_EQ(status_of(refused), UBUS_STATUS_PERMISSION_DENIED) << refused;
		EXPECT_EQ(refused.find("ubus_rpc_session"), std::string::npos) << refused;
	}
	EXPECT_NE(session_log().find("Login refused for nobody"), std::string::npos) << session_log();
}

TEST_F(GatewayTest, UnauthenticatedCallerMayOnlyLogIn)
{
	EXPECT_EQ(error_code(call_rpc(kNullSession, "fleet", "list", "{}")), -32002);
	EXPECT_EQ(error_code(call_rpc("0123456789abcdef0123456789abcdef", "fleet", "list", "{}")), -32002);
	EXPECT_EQ(error_code(call_rpc("", "fleet", "list", "{}")), -32002);
	EXPECT_EQ(error_code(call_rpc(kNullSession, "session", "destroy", "{}")), -32002);
}

TEST_F(GatewayTest, ReadOnlySessionIsRefusedAdminCalls)
{
	ASSERT_EQ(call("db.ap", "set", fleettest::join_json(kAp)), 0);
	std::string viewer = login("viewer", kViewerPassword);
	std::string admin = login("admin", kAdminPassword);
	ASSERT_FALSE(viewer.empty());
	ASSERT_FALSE(admin.empty());
	std::string listed = call_rpc(viewer, "fleet", "list", "{}");
	EXPECT_EQ(status_of(listed), 0) << listed;
	EXPECT_NE(listed.find(R"("state":"pending")"), std::string::npos) << listed;
	const std::string id = R"({"id":")" + std::string(kAp) + "\"}";
	for (const char *method : {"approve", "reboot", "config_set", "rollout_start", "refuse", "forget"})
		EXPECT_EQ(error_code(call_rpc(viewer, "fleet", method, id)), -32002) << method;
	// Nor does either role reach what the page does not use.
	EXPECT_EQ(error_code(call_rpc(admin, "fleet", "forget", id)), -32002);
	EXPECT_EQ(error_code(call_rpc(admin, "db.ap", "set", fleettest::join_json("ap1-a4-b4-c5"))), -32002);
	EXPECT_NE(call_rpc(viewer, "fleet", "show", id).find(R"("state":"pending")"), std::string::npos);
	std::string summary = call_rpc(viewer, "fleet", "site_summary", R"({"site":"hq"})");
	EXPECT_EQ(status_of(summary), 0) << summary;
	EXPECT_NE(summary.find(R"("states":{"pending":1,)"), std::string::npos) << summary;
	std::string approved = call_rpc(admin, "fleet", "approve", id);
	EXPECT_EQ(status_of(approved), 0) << approved;
	EXPECT_NE(approved.find(R"("state":"approved")"), std::string::npos) << approved;
}

// The tap's read methods are the read-only role's; this fleetd has no tap,
// so the calls get through the access list to fleetd, which says so.
TEST_F(GatewayTest, ReadOnlySessionReadsLogLinesAndRrmCommands)
{
	std::string viewer = login("viewer", kViewerPassword);
	ASSERT_FALSE(viewer.empty());
	std::string lines = call_rpc(viewer, "fleet", "log_show", R"({"id":")" + std::string(kAp) + "\"}");
	EXPECT_EQ(status_of(lines), UBUS_STATUS_NOT_SUPPORTED) << lines;
	EXPECT_NE(lines.find("the broker tap is off"), std::string::npos) << lines;
	std::string commands = call_rpc(viewer, "fleet", "rrm_commands", R"({"site":"hq","radio":0})");
	EXPECT_EQ(status_of(commands), UBUS_STATUS_NOT_SUPPORTED) << commands;
	std::string bad = call_rpc(viewer, "fleet", "rrm_commands", R"({"site":"hq","radio":0,"limit":0})");
	EXPECT_EQ(status_of(bad), UBUS_STATUS_INVALID_ARGUMENT) << bad;
}

TEST_F(GatewayTest, DestroyedSessionIsRefused)
{
	std::string viewer = login("viewer", kViewerPassword);
	ASSERT_EQ(status_of(call_rpc(viewer, "fleet", "list", "{}")), 0);
	std::string destroyed = call_rpc(viewer, "session", "destroy", "{}");
	EXPECT_EQ(status_of(destroyed), 0) << destroyed;
	EXPECT_EQ(error_code(call_rpc(viewer, "fleet", "list", "{}")), -32002);
}

TEST_F(GatewayTest, IdleSessionExpires)
{
	std::string viewer = login("viewer", kViewerPassword, 1);
	std::string admin = login("admin", kAdminPassword, 600);
	ASSERT_FALSE(viewer.empty());
	EXPECT_EQ(status_of(call_rpc(viewer, "fleet", "list", "{}")), 0);
	ASSERT_TRUE(wlctest::wait_until([&] { return session_log().find("Session of viewer expired") != std::string::npos; },
					wlctest::kStartLimit))
		<< session_log();
	EXPECT_EQ(error_code(call_rpc(viewer, "fleet", "list", "{}")), -32002);
	// Only the idle one ended.
	EXPECT_EQ(status_of(call_rpc(admin, "fleet", "list", "{}")), 0);
	EXPECT_EQ(session_log().find("Session of admin expired"), std::string::npos);
}

} // namespace
} // namespace siteviewtest
