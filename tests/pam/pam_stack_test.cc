// The login module in the real Linux-PAM stack: pamtester under pam_wrapper
// (a service file of our own) and nss_wrapper (password files of our own),
// against the session service stand-in on a private bus.
#include <gtest/gtest.h>

#include <json-c/json.h>

#include <algorithm>
#include <ctime>
#include <sstream>

#include "pam_fixture.h"

namespace {

using pamtest::is_tag;
using pamtest::kService;
using pamtest::PamRun;
using pamtest::PamStack;

json_object *member(json_object *o, const char *key)
{
	json_object *v = nullptr;
	json_object_object_get_ex(o, key, &v);
	return v;
}

std::string text(json_object *o, const char *key)
{
	json_object *v = member(o, key);
	return v ? json_object_get_string(v) : "";
}

TEST_F(PamStack, GrantedLoginRecordsAndClosesTheSession)
{
	accounts("", "");
	start_session_service(R"("alice": {"answer": "granted", "password": "s3cret"})");
	time_t before = std::time(nullptr);
	PamRun r = pamtester("alice", "s3cret", {"authenticate", "open_session", "close_session"}, "10.1.2.3");
	time_t after = std::time(nullptr);
	ASSERT_EQ(r.status, 0) << r.out;
	auto logins = record("login");
	ASSERT_EQ(logins.size(), 1u);
	EXPECT_EQ(logins[0], R"({"username":"alice","password":"s3cret","timeout":0,"exclusive":"cli"})");
	auto sets = record("set");
	ASSERT_EQ(sets.size(), 1u);
	json_object *set = json_tokener_parse(sets[0].c_str());
	ASSERT_NE(set, nullptr) << sets[0];
	std::string session = text(set, "ubus_rpc_session");
	EXPECT_EQ(session.size(), 32u);
	json_object *values = member(set, "values");
	ASSERT_NE(values, nullptr);
	int64_t start = json_object_get_int64(member(values, "start"));
	EXPECT_GE(start, before);
	EXPECT_LE(start, after);
	EXPECT_EQ(json_object_get_int(member(values, "pid")), r.pid);
	EXPECT_TRUE(is_tag(text(values, "id"))) << sets[0];
	EXPECT_EQ(text(values, "service"), kService);
	EXPECT_EQ(text(values, "remote"), "10.1.2.3");
	json_object_put(set);
	EXPECT_EQ(record("destroy"), std::vector<std::string>{R"({"ubus_rpc_session":")" + session + R"("})"});
}

TEST_F(PamStack, TwoLoginsGetDifferentIds)
{
	accounts("", "");
	start_session_service(R"("alice": {"answer": "granted"})");
	for (int i = 0; i < 2; i++)
		ASSERT_EQ(pamtester("alice", "pw", {"authenticate", "open_session", "close_session"}).status, 0);
	auto sets = record("set");
	ASSERT_EQ(sets.size(), 2u);
	json_object *a = json_tokener_parse(sets[0].c_str()), *b = json_tokener_parse(sets[1].c_str());
	std::string id_a = text(member(a, "values"), "id"), id_b = text(member(b, "values"), "id");
	EXPECT_EQ(id_a.size(), 16u);
	EXPECT_NE(id_a, id_b);
	EXPECT_NE(text(a, "ubus_rpc_session"), text(b, "ubus_rpc_session"));
	// Without a remote host and with the service given, only the service is recorded.
	EXPECT_EQ(member(member(a, "values"), "remote"), nullptr);
	json_object_put(a);
	json_object_put(b);
}

TEST_F(PamStack, BlockedUserIsNotCheckedLocally)
{
	// bob's local password would match; a blocked account is not let in by it.
	accounts("bob:x:1001:100::/home/bob:/bin/sh\n", "bob:" + hash_of("pw") + ":19000:0:99999:7:::\n");
	start_session_service(R"("bob": {"answer": "blocked"})");
	PamRun r = pamtester("bob", "pw", {"authenticate"});
	EXPECT_NE(r.status, 0);
	EXPECT_NE(r.out.find("Authentication service cannot retrieve authentication info"), std::string::npos) << r.out;
	EXPECT_EQ(record("login").size(), 1u);
	EXPECT_TRUE(record("set").empty());
}

TEST_F(PamStack, ConcurrentSessionIsRefusedWithTheMessage)
{
	accounts("", "");
	start_session_service(R"("carol": {"answer": "concurrent"})");
	PamRun r = pamtester("carol", "pw", {"authenticate"});
	EXPECT_NE(r.status, 0);
	EXPECT_NE(r.out.find("You are already logged in from another session."), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("Authentication failure"), std::string::npos) << r.out;
	EXPECT_TRUE(record("set").empty());
	EXPECT_TRUE(record("destroy").empty());
}

TEST_F(PamStack, OpenSessionLocksTheNextLoginOut)
{
	accounts("", "");
	start_session_service(R"("alice": {"answer": "granted"})");
	ASSERT_EQ(pamtester("alice", "pw", {"authenticate", "open_session"}).status, 0);
	PamRun second = pamtester("alice", "pw", {"authenticate"});
	EXPECT_NE(second.status, 0);
	EXPECT_NE(second.out.find("You are already logged in from another session."), std::string::npos);
}

TEST_F(PamStack, EmptyAnswerFallsBackToLocalPasswordFiles)
{
	accounts("dave:x:1001:100::/home/dave:/bin/sh\n"
		 "erin:" + hash_of("erin-pw") + ":1002:100::/home/erin:/bin/sh\n"
		 "frank:x:1003:100::/home/frank:/bin/sh\n"
		 "gina::1004:100::/home/gina:/bin/sh\n"
		 "hank:x:1005:100::/home/hank:/bin/sh\n",
		 "dave:" + hash_of("dave-pw") + ":19000:0:99999:7:::\n"
		 "frank:!" + hash_of("frank-pw") + ":19000:0:99999:7:::\n");
	start_session_service(R"("dave": {"answer": "empty"}, "erin": {"answer": "granted", "password": "other"})");
	PamRun dave = pamtester("dave", "dave-pw", {"authenticate"});
	EXPECT_EQ(dave.status, 0) << dave.out;
	EXPECT_NE(pamtester("dave", "wrong", {"authenticate"}).status, 0);
	// A wrong password at the session service: the password file's hash decides.
	EXPECT_EQ(pamtester("erin", "erin-pw", {"authenticate"}).status, 0);
	EXPECT_NE(pamtester("erin", "nope", {"authenticate"}).status, 0);
	// Locked, empty and missing hashes match nothing; unknown users are refused.
	EXPECT_NE(pamtester("frank", "frank-pw", {"authenticate"}).status, 0);
	EXPECT_NE(pamtester("gina", "", {"authenticate"}).status, 0);
	EXPECT_NE(pamtester("hank", "x", {"authenticate"}).status, 0);
	PamRun unknown = pamtester("nobody-here", "pw", {"authenticate"});
	EXPECT_NE(unknown.status, 0);
	EXPECT_NE(unknown.out.find("Authentication failure"), std::string::npos) << unknown.out;
	EXPECT_TRUE(record("set").empty());
}

TEST_F(PamStack, NoSessionServiceMeansUnavailable)
{
	accounts("ivan:x:1001:100::/home/ivan:/bin/sh\n", "ivan:" + hash_of("pw") + ":19000:0:99999:7:::\n");
	// The bus without "session": no local fallback either.
	PamRun r = pamtester("ivan", "pw", {"authenticate"});
	EXPECT_NE(r.status, 0);
	EXPECT_NE(r.out.find("Authentication service cannot retrieve authentication info"), std::string::npos) << r.out;
	// No bus at all.
	bus_.reset();
	r = pamtester("ivan", "pw", {"authenticate"});
	EXPECT_NE(r.status, 0);
	EXPECT_NE(r.out.find("Authentication service cannot retrieve authentication info"), std::string::npos) << r.out;
}

TEST_F(PamStack, SilentServiceMeansUnavailable)
{
	accounts("judy:x:1001:100::/home/judy:/bin/sh\n", "judy:" + hash_of("pw") + ":19000:0:99999:7:::\n");
	start_session_service(R"("judy": {"answer": "silent"})");
	PamRun r = pamtester("judy", "pw", {"authenticate"});
	EXPECT_NE(r.status, 0);
	EXPECT_NE(r.out.find("Authentication service cannot retrieve authentication info"), std::string::npos) << r.out;
}

TEST_F(PamStack, SessionIsDestroyedOnce)
{
	accounts("", "");
	start_session_service(R"("alice": {"answer": "granted"})");
	PamRun r = pamtester("alice", "pw", {"authenticate", "open_session", "close_session", "close_session"});
	EXPECT_EQ(r.status, 0) << r.out;
	EXPECT_EQ(record("destroy").size(), 1u);
	// A session this module never opened closes quietly.
	r = pamtester("alice", "pw", {"open_session", "close_session"});
	EXPECT_EQ(r.status, 0) << r.out;
	EXPECT_EQ(record("destroy").size(), 1u);
	EXPECT_EQ(record("login").size(), 1u);
}

TEST(PamModule, ExportsOnlyTheEntryPoints)
{
	wlctest::RunResult r = wlctest::run({"/usr/bin/nm", "-D", "--defined-only", PAM_MODULE});
	ASSERT_EQ(r.status, 0);
	std::istringstream in(r.out);
	std::vector<std::string> names;
	for (std::string line; std::getline(in, line);) {
		std::string addr, kind, name;
		std::istringstream(line) >> addr >> kind >> name;
		names.push_back(name);
	}
	std::sort(names.begin(), names.end());
	EXPECT_EQ(names, (std::vector<std::string>{"pam_sm_acct_mgmt", "pam_sm_authenticate", "pam_sm_close_session",
						   "pam_sm_open_session", "pam_sm_setcred"}));
}

} // namespace
