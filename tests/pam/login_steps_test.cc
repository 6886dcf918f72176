// The module's steps without a PAM stack: what PAM cannot be made to do
// (refuse to keep the session id), the reading of "login" replies, and the
// session tags.
#include <gtest/gtest.h>

#include <security/_pam_types.h>

#include <wlc/blob.h>

#include <cstdlib>

#include "harness.h"
#include "pam_context.h"
#include "session_service.h"
#include "session_tag.h"

namespace {

using namespace std::chrono_literals;

// 16 lower-case hexadecimal digits.
bool is_tag(const std::string &s)
{
	return s.size() == 16 && s.find_first_not_of("0123456789abcdef") == std::string::npos;
}

class FakePam : public pamrpc::PamContext {
public:
	const char *user() override { return user_.c_str(); }
	const char *password() override { return "pw"; }
	std::optional<std::string> service() override { return "login"; }
	std::optional<std::string> remote() override { return std::nullopt; }
	bool keep_session(const std::string &id) override
	{
		if (!can_keep)
			return false;
		kept = id;
		return true;
	}
	std::optional<std::string> kept_session() override { return kept; }
	void forget_session() override { kept.reset(); }
	void show_error(const char *text) override { shown.push_back(text); }

	std::string user_ = "alice";
	bool can_keep = true;
	std::optional<std::string> kept;
	std::vector<std::string> shown;
};

class LoginSteps : public wlctest::DeviceTest {
protected:
	void start_service()
	{
		wlctest::write_text(root_->path() + "/users.json", R"({"alice": {"answer": "granted"}})");
		service_ = std::make_unique<wlctest::Process>(std::vector<std::string>{
			SIM_SESSION, "-s", bus_->socket(), "-u", root_->path() + "/users.json", "-r", root_->path() + "/record"});
		ASSERT_TRUE(client_.connect(bus_->socket()));
		ASSERT_TRUE(wlctest::wait_until([&] { return client_.lookup("session") != 0; }, 10s));
	}
	std::string record() const { return wlctest::read_text(root_->path() + "/record"); }

	wlc::Bus client_;
	std::unique_ptr<wlctest::Process> service_;
};

TEST_F(LoginSteps, SessionThatCannotBeKeptIsDestroyed)
{
	start_service();
	FakePam pam;
	pam.can_keep = false;
	EXPECT_EQ(pamrpc::authenticate(pam), PAM_SYSTEM_ERR);
	std::string rec = record();
	EXPECT_NE(rec.find("\ndestroy {\"ubus_rpc_session\":"), std::string::npos) << rec;
	EXPECT_EQ(rec.find("\nset "), std::string::npos) << rec;
	// So the next exclusive login is not refused as concurrent.
	pam.can_keep = true;
	EXPECT_EQ(pamrpc::authenticate(pam), PAM_SUCCESS);
	EXPECT_TRUE(pam.shown.empty());
	ASSERT_TRUE(pam.kept);
	EXPECT_EQ(pamrpc::close_session(pam), PAM_SUCCESS);
	EXPECT_FALSE(pam.kept);
}

TEST_F(LoginSteps, LogoutWithoutTheServiceKeepsTheSessionId)
{
	FakePam pam;
	pam.kept = "0123456789abcdef0123456789abcdef";
	EXPECT_EQ(pamrpc::close_session(pam), PAM_SESSION_ERR);
	EXPECT_TRUE(pam.kept);
	bus_.reset();
	EXPECT_EQ(pamrpc::close_session(pam), PAM_SESSION_ERR);
	EXPECT_EQ(pamrpc::authenticate(pam), PAM_AUTHINFO_UNAVAIL);
}

TEST_F(LoginSteps, UnknownSessionAtLogoutIsAnError)
{
	start_service();
	FakePam pam;
	pam.kept = "ffffffffffffffffffffffffffffffff";
	EXPECT_EQ(pamrpc::close_session(pam), PAM_SESSION_ERR);
}

pamrpc::LoginResult reply(const std::string &json)
{
	wlc::BlobBuf b;
	EXPECT_TRUE(b.add_json(json));
	pamrpc::LoginResult r;
	pamrpc::read_login_reply(b.head(), r);
	return r;
}

TEST(LoginReply, Outcomes)
{
	using pamrpc::Outcome;
	EXPECT_EQ(reply(R"({"ubus_rpc_session": "abc"})").outcome, Outcome::Granted);
	EXPECT_EQ(reply(R"({"ubus_rpc_session": "abc"})").session, "abc");
	EXPECT_EQ(reply(R"({"concurrent_session": true, "ubus_rpc_session": "abc"})").outcome, Outcome::Concurrent);
	EXPECT_EQ(reply(R"({"concurrent_session": true, "ubus_rpc_session": "abc"})").session, "");
	EXPECT_EQ(reply(R"({"concurrent_session": false, "ubus_rpc_session": "abc"})").outcome, Outcome::Granted);
	EXPECT_EQ(reply(R"({"blocked_for": 30, "ubus_rpc_session": "abc"})").outcome, Outcome::Blocked);
	EXPECT_EQ(reply(R"({})").outcome, Outcome::Unanswered);
	// Fields of the wrong type or an empty id grant nothing.
	EXPECT_EQ(reply(R"({"ubus_rpc_session": 5})").outcome, Outcome::Unanswered);
	EXPECT_EQ(reply(R"({"ubus_rpc_session": ""})").outcome, Outcome::Unanswered);
	EXPECT_EQ(reply(R"({"blocked_for": "soon"})").outcome, Outcome::Unanswered);
}

TEST(SessionTag, RandomHexWithoutTouchingRand)
{
	std::srand(42);
	int first = std::rand();
	std::srand(42);
	auto a = pamrpc::random_session_tag();
	auto b = pamrpc::random_session_tag();
	EXPECT_EQ(std::rand(), first);
	ASSERT_TRUE(a && b);
	EXPECT_TRUE(is_tag(*a));
	EXPECT_NE(*a, *b);
}

} // namespace
