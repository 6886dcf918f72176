// Logging in, checking access and logging out.
#include "session_object.h"

#include <wlc/log.h>

#include <algorithm>
#include <map>
#include <set>

namespace siteview {

namespace {

constexpr int kMaxTimeout = 86400;
// A SHA-256 crypt hash that no password is checked against successfully
// (it is checked only for users not in the file).
const std::string kUnknownUserHash = "$5$siteview$0000000000000000000000000000000000000000000";

const std::array<blobmsg_policy, 3> kLoginPolicy = {
	{{"username", BLOBMSG_TYPE_STRING}, {"password", BLOBMSG_TYPE_STRING}, {"timeout", BLOBMSG_TYPE_INT32}}};
const std::array<blobmsg_policy, 4> kAccessPolicy = {{{"ubus_rpc_session", BLOBMSG_TYPE_STRING},
						      {"scope", BLOBMSG_TYPE_STRING},
						      {"object", BLOBMSG_TYPE_STRING},
						      {"function", BLOBMSG_TYPE_STRING}}};
const std::array<blobmsg_policy, 1> kSessionPolicy = {{{"ubus_rpc_session", BLOBMSG_TYPE_STRING}}};

template <size_t N>
std::vector<blobmsg_policy> as_vector(const std::array<blobmsg_policy, N> &p)
{
	return {p.begin(), p.end()};
}

// The grants as the session daemon shows them: {"ubus": {object: [function, ...]}}.
void add_acls(wlc::BlobBuf &b, const std::vector<Grant> &calls)
{
	std::map<std::string, std::set<std::string>> by_object;
	for (const Grant &g : calls)
		by_object[g.object].insert(g.function);
	wlc::BlobBuf::Nest acls = b.table("acls");
	wlc::BlobBuf::Nest ubus = b.table("ubus");
	for (const auto &[object, functions] : by_object) {
		wlc::BlobBuf::Nest list = b.array(object.c_str());
		for (const std::string &f : functions)
			b.add(nullptr, f);
	}
}

} // namespace

SessionService::SessionService(SessionSettings settings)
	: settings_(std::move(settings)), expiry_([this] { expire(); }),
	  object_("session",
		  {{"login", as_vector(kLoginPolicy), [this](wlc::Request &r, blob_attr *m) { return login(r, m); }},
		   {"access", as_vector(kAccessPolicy), [this](wlc::Request &r, blob_attr *m) { return access(r, m); }},
		   {"destroy", as_vector(kSessionPolicy),
		    [this](wlc::Request &r, blob_attr *m) { return destroy(r, m); }}})
{
}

int SessionService::login(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<3> f;
	if (!f.parse(kLoginPolicy, msg) || !f.str(0) || !f.str(1))
		return UBUS_STATUS_INVALID_ARGUMENT;
	const std::string user(*f.str(0));
	int timeout = static_cast<int>(f.u32(2).value_or(static_cast<uint32_t>(settings_.default_timeout)));
	if (timeout <= 0 || timeout > kMaxTimeout)
		return UBUS_STATUS_INVALID_ARGUMENT;
	// Read at every login, so that a changed password or list counts at once.
	std::vector<Login> logins = load_logins(settings_.logins_file);
	auto it = std::find_if(logins.begin(), logins.end(), [&](const Login &l) { return l.username == user; });
	// An unknown user costs a hash as well, so that the answer's time does
	// not tell which users exist.
	const std::string &hash = it == logins.end() ? kUnknownUserHash : it->password_hash;
	const bool matches = password_matches(hash, std::string(*f.str(1)));
	if (it == logins.end() || !matches) {
		wlc::logf(LOG_WARNING, "Login refused for %s", user.c_str());
		return UBUS_STATUS_PERMISSION_DENIED;
	}
	std::optional<std::string> id =
		sessions_.create(user, granted_calls(*it, load_acl_dir(settings_.acl_dir)), std::chrono::seconds(timeout));
	if (!id)
		return UBUS_STATUS_UNKNOWN_ERROR;
	wlc::logf(LOG_NOTICE, "Login of %s", user.c_str());
	reply_session(req, *id, *sessions_.find(*id));
	schedule_expiry();
	return UBUS_STATUS_OK;
}

void SessionService::reply_session(wlc::Request &req, const std::string &id, const Session &s)
{
	wlc::BlobBuf b;
	b.add("ubus_rpc_session", id);
	b.add_u32("timeout", static_cast<uint32_t>(s.timeout.count()));
	b.add_u32("expires", static_cast<uint32_t>(s.timeout.count()));
	add_acls(b, s.calls);
	{
		wlc::BlobBuf::Nest data = b.table("data");
		b.add("username", s.username);
	}
	req.reply(b);
}

int SessionService::access(wlc::Request &req, blob_attr *msg)
{
	wlc::Fields<4> f;
	if (!f.parse(kAccessPolicy, msg) || !f.str(0) || !f.str(2) || !f.str(3))
		return UBUS_STATUS_INVALID_ARGUMENT;
	const std::string id(*f.str(0));
	if (id != kNullSession && !sessions_.find(id))
		return UBUS_STATUS_NOT_FOUND;
	bool ok = sessions_.allowed(id, std::string(f.str(1).value_or("ubus")), std::string(*f.str(2)),
				    std::string(*f.str(3)));
	wlc::BlobBuf b;
	b.add_bool("access", ok);
	req.reply(b);
	schedule_expiry();
	return UBUS_STATUS_OK;
}

void SessionService::expire()
{
	// Called from the event loop: nothing may escape.
	try {
		for (const std::string &user : sessions_.drop_expired())
			wlc::logf(LOG_NOTICE, "Session of %s expired", user.c_str());
	} catch (...) {
	}
	schedule_expiry();
}

void SessionService::schedule_expiry()
{
	std::optional<SessionTable::Clock::time_point> next = sessions_.next_expiry();
	if (!next) {
		expiry_.cancel();
		return;
	}
	auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(*next - SessionTable::Clock::now()).count();
	expiry_.set(static_cast<int>(std::clamp<long long>(ms + 1, 1, 86400LL * 1000)));
}

int SessionService::destroy(wlc::Request &, blob_attr *msg)
{
	wlc::Fields<1> f;
	if (!f.parse(kSessionPolicy, msg) || !f.str(0))
		return UBUS_STATUS_INVALID_ARGUMENT;
	const std::string id(*f.str(0));
	if (id == kNullSession || !sessions_.destroy(id))
		return UBUS_STATUS_NOT_FOUND;
	return UBUS_STATUS_OK;
}

} // namespace siteview
