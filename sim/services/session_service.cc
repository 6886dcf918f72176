// Stand-in for the platform's ubus session service "session" as a console
// login uses it, scripted per user, recording every call.
//   sim_session [-s <socket>] -u <users.json> -r <record-file>
// users.json: {"<user>": {"answer": "granted"|"blocked"|"concurrent"|"empty"|"silent",
//                         "password": "<password>"}, ...}
//   granted     a session id when the password matches (or none is scripted),
//               an empty answer when it does not; "concurrent_session" while
//               the user still holds a session from an earlier login
//   blocked     "blocked_for"
//   concurrent  "concurrent_session" true (with a session id, as refused logins may carry)
//   empty       an empty answer, as for a wrong password
//   silent      no answer at all
// Users not in the file get empty answers. Each call appends a line
// "<method> <message as JSON>" to the record file.
#include <wlc/bus.h>

#include <json-c/json.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <sys/random.h>
#include <unistd.h>

#include "run_service.h"

namespace {

struct Script {
	std::string answer = "empty";
	std::optional<std::string> password;
};

std::map<std::string, Script> users;
std::map<std::string, std::string> sessions; // id -> user
std::string record_path;

void record(const char *method, blob_attr *msg)
{
	wlc::BlobBuf copy;
	copy.add_fields(msg);
	std::ofstream(record_path, std::ios::app) << method << ' ' << copy.json() << '\n';
}

std::string new_session_id()
{
	uint8_t b[16];
	if (getrandom(b, sizeof(b), 0) != static_cast<ssize_t>(sizeof(b)))
		return "00000000000000000000000000000000";
	char hex[33];
	for (size_t i = 0; i < sizeof(b); i++)
		std::snprintf(hex + 2 * i, 3, "%02x", b[i]);
	return hex;
}

bool holds_session(const std::string &user)
{
	for (const auto &[id, who] : sessions)
		if (who == user)
			return true;
	return false;
}

int login(wlc::Request &req, blob_attr *msg)
{
	record("login", msg);
	wlc::Fields<2> f;
	if (!f.parse({{{"username", BLOBMSG_TYPE_STRING}, {"password", BLOBMSG_TYPE_STRING}}}, msg) || !f.str(0) ||
	    !f.str(1))
		return UBUS_STATUS_INVALID_ARGUMENT;
	std::string user(*f.str(0));
	auto it = users.find(user);
	const Script script = it == users.end() ? Script{} : it->second;
	wlc::BlobBuf reply;
	if (script.answer == "silent")
		return UBUS_STATUS_PERMISSION_DENIED;
	if (script.answer == "blocked") {
		reply.add_u32("blocked_for", 30);
	} else if (script.answer == "concurrent" || (script.answer == "granted" && holds_session(user))) {
		reply.add_bool("concurrent_session", true);
		reply.add("ubus_rpc_session", new_session_id());
	} else if (script.answer == "granted" && (!script.password || *script.password == *f.str(1))) {
		std::string id = new_session_id();
		sessions[id] = user;
		reply.add("ubus_rpc_session", id);
		reply.add_u32("timeout", 0);
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int session_call(const char *method, blob_attr *msg, bool destroy)
{
	record(method, msg);
	wlc::Fields<1> f;
	if (!f.parse({{{"ubus_rpc_session", BLOBMSG_TYPE_STRING}}}, msg) || !f.str(0))
		return UBUS_STATUS_INVALID_ARGUMENT;
	auto it = sessions.find(std::string(*f.str(0)));
	if (it == sessions.end())
		return UBUS_STATUS_NOT_FOUND;
	if (destroy)
		sessions.erase(it);
	return UBUS_STATUS_OK;
}

bool load_users(const char *path)
{
	json_object *all = json_object_from_file(path);
	if (!all || !json_object_is_type(all, json_type_object)) {
		json_object_put(all);
		return false;
	}
	json_object_object_foreach(all, name, script) {
		Script s;
		json_object *v;
		if (json_object_object_get_ex(script, "answer", &v))
			s.answer = json_object_get_string(v);
		if (json_object_object_get_ex(script, "password", &v))
			s.password = json_object_get_string(v);
		users[name] = s;
	}
	json_object_put(all);
	return true;
}

} // namespace

int main(int argc, char **argv)
{
	// -u and -r are ours; -s goes on to the shared service loop.
	std::vector<char *> rest = {argv[0]};
	const char *users_path = nullptr;
	for (int i = 1; i < argc; i++) {
		std::string a = argv[i];
		if (a == "-u" && i + 1 < argc)
			users_path = argv[++i];
		else if (a == "-r" && i + 1 < argc)
			record_path = argv[++i];
		else
			rest.push_back(argv[i]);
	}
	if (!users_path || record_path.empty() || !load_users(users_path)) {
		std::fprintf(stderr, "Usage: %s [-s <socket>] -u <users.json> -r <record-file>\n", argv[0]);
		return 1;
	}
	wlc::BusObject session("session", {{"login", {}, login},
					   {"set", {}, [](wlc::Request &, blob_attr *m) { return session_call("set", m, false); }},
					   {"destroy", {}, [](wlc::Request &, blob_attr *m) { return session_call("destroy", m, true); }}});
	return sim::run_service("session", static_cast<int>(rest.size()), rest.data(), session);
}
