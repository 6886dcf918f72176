// Logging in through the session service, and logging out.
#include "local_password.h"
#include "pam_context.h"
#include "session_service.h"
#include "session_tag.h"

#include <security/_pam_types.h>

#include <ctime>
#include <unistd.h>

namespace pamrpc {

namespace {

constexpr const char *kConcurrentMessage = "You are already logged in from another session.";

// Keeps a granted session and records who logged in. Should the session
// not be kept, it is destroyed again: a session nobody can close would lock
// the user out of the next exclusive login.
int take_session(PamContext &pam, SessionService &service, const std::string &session)
{
	std::optional<std::string> tag = random_session_tag();
	if (!tag || !pam.keep_session(session)) {
		service.destroy(session);
		return PAM_SYSTEM_ERR;
	}
	SessionValues v;
	v.start = static_cast<uint64_t>(std::time(nullptr));
	v.pid = static_cast<uint32_t>(getpid());
	v.id = *tag;
	v.service = pam.service();
	v.remote = pam.remote();
	service.set(session, v);
	return PAM_SUCCESS;
}

} // namespace

int authenticate(PamContext &pam)
{
	const char *user = pam.user();
	const char *password = user ? pam.password() : nullptr;
	if (!user || !password)
		return PAM_AUTH_ERR;
	LoginResult login;
	{
		SessionService service;
		if (!service.connect())
			return PAM_AUTHINFO_UNAVAIL;
		login = service.login(user, password);
		if (login.outcome == Outcome::Granted) {
			int ret = take_session(pam, service, login.session);
			if (ret != PAM_SUCCESS)
				return ret;
		}
	}
	switch (login.outcome) {
	case Outcome::Concurrent:
		pam.show_error(kConcurrentMessage);
		return PAM_AUTH_ERR;
	case Outcome::Granted:
		return PAM_SUCCESS;
	case Outcome::Unanswered:
		return local_password_ok(user, password) ? PAM_SUCCESS : PAM_AUTH_ERR;
	case Outcome::NoReply:
	case Outcome::Blocked:
		break;
	}
	return PAM_AUTHINFO_UNAVAIL;
}

int close_session(PamContext &pam)
{
	std::optional<std::string> session = pam.kept_session();
	if (!session)
		return PAM_SUCCESS;
	SessionService service;
	if (!service.connect() || service.destroy(*session) != 0)
		return PAM_SESSION_ERR;
	// Destroyed once: a second close has nothing left to destroy.
	pam.forget_session();
	return PAM_SUCCESS;
}

} // namespace pamrpc
