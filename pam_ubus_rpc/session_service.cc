// Calls of the session service.
#include "session_service.h"

#include "secret.h"

#include <fsroot/fsroot.h>
#include <wlc/platform_values.h>

#include <time.h>

namespace pamrpc {

namespace {

constexpr int kConnectAttempts = 100;

void pause_100us()
{
	timespec ts = {0, 100 * 1000};
	nanosleep(&ts, nullptr);
}

} // namespace

void read_login_reply(blob_attr *msg, LoginResult &result)
{
	wlc::Fields<3> f;
	result.outcome = Outcome::Unanswered;
	result.session.clear();
	if (!f.parse({{{"ubus_rpc_session", BLOBMSG_TYPE_STRING},
		       {"concurrent_session", BLOBMSG_TYPE_BOOL},
		       {"blocked_for", BLOBMSG_TYPE_INT32}}},
		     msg))
		return;
	if (f.boolean(1).value_or(false)) {
		result.outcome = Outcome::Concurrent;
	} else if (f.has(2)) {
		result.outcome = Outcome::Blocked;
	} else if (auto id = f.str(0); id && !id->empty()) {
		result.outcome = Outcome::Granted;
		result.session.assign(*id);
	}
}

bool SessionService::connect()
{
	std::string socket = wlc::root_path(wlc::platform::kBusSocket);
	for (int attempt = 0; attempt < kConnectAttempts && !bus_.connected(); attempt++) {
		if (attempt)
			pause_100us();
		if (!bus_.connect(socket))
			continue;
	}
	if (!bus_.connected())
		return false;
	object_ = bus_.lookup("session");
	if (object_ == 0) {
		bus_.close();
		return false;
	}
	return true;
}

LoginResult SessionService::login(const char *user, const char *password)
{
	SecretBlob msg;
	blobmsg_add_string(msg.raw(), "username", user);
	blobmsg_add_string(msg.raw(), "password", password);
	blobmsg_add_u32(msg.raw(), "timeout", 0);
	blobmsg_add_string(msg.raw(), "exclusive", "cli");
	// Without any reply the outcome stays NoReply, whatever the status.
	LoginResult result;
	ubus_invoke(bus_.ctx(), object_, "login", msg.head(), &SessionService::on_login, &result, kTimeoutMs);
	return result;
}

void SessionService::on_login(ubus_request *req, int, blob_attr *msg) noexcept
{
	try {
		read_login_reply(msg, *static_cast<LoginResult *>(req->priv));
	} catch (...) {
		static_cast<LoginResult *>(req->priv)->outcome = Outcome::Unanswered;
	}
}

int SessionService::set(const std::string &session, const SessionValues &v)
{
	wlc::BlobBuf msg;
	msg.add("ubus_rpc_session", session);
	{
		auto values = msg.table("values");
		msg.add_u64("start", v.start);
		msg.add_u32("pid", v.pid);
		msg.add("id", v.id);
		if (v.service)
			msg.add("service", *v.service);
		if (v.remote)
			msg.add("remote", *v.remote);
	}
	return bus_.call(object_, "set", msg, {}, kTimeoutMs);
}

int SessionService::destroy(const std::string &session)
{
	wlc::BlobBuf msg;
	msg.add("ubus_rpc_session", session);
	return bus_.call(object_, "destroy", msg, {}, kTimeoutMs);
}

} // namespace pamrpc
