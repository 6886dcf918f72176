// The gateway's test device.
#include "gateway_fixture.h"

#include <cstdlib>

namespace siteviewtest {

Json parse(const std::string &text)
{
	return Json(json_tokener_parse(text.c_str()), json_object_put);
}

json_object *at(json_object *root, std::initializer_list<std::string> path)
{
	json_object *cur = root;
	for (const std::string &step : path) {
		if (!cur)
			return nullptr;
		if (json_object_is_type(cur, json_type_array)) {
			cur = json_object_array_get_idx(cur, std::strtoul(step.c_str(), nullptr, 10));
		} else if (!json_object_object_get_ex(cur, step.c_str(), &cur)) {
			return nullptr;
		}
	}
	return cur;
}

std::string password_hash(const std::string &password)
{
	wlctest::RunResult r = wlctest::run({"/usr/bin/openssl", "passwd", "-5", password});
	EXPECT_EQ(r.status, 0) << r.err;
	std::string hash = r.out;
	while (!hash.empty() && (hash.back() == '\n' || hash.back() == '\r'))
		hash.pop_back();
	return hash;
}

std::string logins_json()
{
	return R"({"logins": [)"
	       R"({"username": "admin", "password": ")" + password_hash(kAdminPassword) +
	       R"(", "read": ["wlc-siteview-*"], "write": ["wlc-siteview-*"]},)"
	       R"({"username": "viewer", "password": ")" + password_hash(kViewerPassword) +
	       R"(", "read": ["wlc-siteview-read"], "write": []}]})";
}

void GatewayTest::SetUp()
{
	FleetdTest::SetUp();
	if (HasFatalFailure())
		return;
	wlctest::write_text(root_->at("/etc/siteview/logins.json"), logins_json());
	wlctest::write_text(root_->at("/usr/share/rpcd/acl.d/wlc-siteview.json"),
			    wlctest::read_text(std::string(WLC_SOURCE_DIR) + "/siteview/acl/wlc-siteview.json"));
	session_ = std::make_unique<wlctest::Process>(
		std::vector<std::string>{std::string(WLC_BUILD_DIR) + "/siteview/siteview_session", "-s", bus_->socket()},
		std::vector<std::string>{"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + root_->path() + "/session.log"});
	ASSERT_TRUE(wlctest::pump([&] { return client_.lookup("session") != 0; }, wlctest::kStartLimit))
		<< session_log();
	ASSERT_NO_FATAL_FAILURE(start_fleetd({"-m", "manual", "-n", "hq"}));
	gateway_ = std::make_unique<siteview::Gateway>(client_, 10000);
}

void GatewayTest::TearDown()
{
	gateway_.reset();
	session_.reset();
	FleetdTest::TearDown();
}

std::string GatewayTest::call_rpc(const std::string &session, const std::string &object, const std::string &method,
				  const std::string &args_json)
{
	return rpc(R"({"jsonrpc":"2.0","id":7,"method":"call","params":[")" + session + R"(",")" + object + R"(",")" +
		   method + R"(",)" + args_json + "]}");
}

std::string GatewayTest::login(const std::string &user, const std::string &password, int timeout)
{
	std::string args = R"({"username":")" + user + R"(","password":")" + password + "\"" +
			   (timeout ? ",\"timeout\":" + std::to_string(timeout) : "") + "}";
	Json answer = parse(call_rpc(kNullSession, "session", "login", args));
	json_object *sid = at(answer.get(), {"result", "1", "ubus_rpc_session"});
	return sid ? json_object_get_string(sid) : "";
}

std::string GatewayTest::session_log() const
{
	return wlctest::read_text(root_->path() + "/session.log");
}

int error_code(const std::string &answer)
{
	Json a = parse(answer);
	json_object *code = at(a.get(), {"error", "code"});
	return code ? json_object_get_int(code) : 0;
}

int status_of(const std::string &answer)
{
	Json a = parse(answer);
	json_object *status = at(a.get(), {"result", "0"});
	return status && json_object_is_type(status, json_type_int) ? json_object_get_int(status) : -1;
}

} // namespace siteviewtest
