// The PAM entry points: authentication against the session service, and
// the rpc session destroyed when the PAM session closes. Nothing thrown
// inside reaches libpam.
#define PAM_SM_AUTH
#define PAM_SM_ACCOUNT
#define PAM_SM_SESSION
#include <security/pam_ext.h>
#include <security/pam_modules.h>

#include <cstdlib>
#include <cstring>

#include "pam_context.h"
#include "secret.h"

namespace {

constexpr const char *kSessionItem = "pam_ubus_rpc_session";

void free_session(pam_handle_t *, void *data, int) noexcept
{
	if (data)
		pamrpc::wipe(data, std::strlen(static_cast<char *>(data)));
	std::free(data);
}

class LinuxPam : public pamrpc::PamContext {
public:
	explicit LinuxPam(pam_handle_t *pamh) : pamh_(pamh) {}

	const char *user() override
	{
		const char *u = nullptr;
		return pam_get_user(pamh_, &u, nullptr) == PAM_SUCCESS && u && *u ? u : nullptr;
	}
	const char *password() override
	{
		const char *p = nullptr;
		return pam_get_authtok(pamh_, PAM_AUTHTOK, &p, nullptr) == PAM_SUCCESS ? p : nullptr;
	}
	std::optional<std::string> service() override { return item(PAM_SERVICE); }
	std::optional<std::string> remote() override { return item(PAM_RHOST); }
	bool keep_session(const std::string &id) override
	{
		char *copy = strdup(id.c_str());
		if (!copy)
			return false;
		if (pam_set_data(pamh_, kSessionItem, copy, free_session) != PAM_SUCCESS) {
			free_session(pamh_, copy, 0);
			return false;
		}
		return true;
	}
	std::optional<std::string> kept_session() override
	{
		const void *data = nullptr;
		if (pam_get_data(pamh_, kSessionItem, &data) != PAM_SUCCESS || !data)
			return std::nullopt;
		return std::string(static_cast<const char *>(data));
	}
	void forget_session() override { pam_set_data(pamh_, kSessionItem, nullptr, nullptr); }
	void show_error(const char *text) override { pam_error(pamh_, "%s", text); }

private:
	std::optional<std::string> item(int type)
	{
		const void *v = nullptr;
		if (pam_get_item(pamh_, type, &v) != PAM_SUCCESS || !v)
			return std::nullopt;
		return std::string(static_cast<const char *>(v));
	}

	pam_handle_t *pamh_;
};

} // namespace

extern "C" {

PAM_EXTERN int pam_sm_authenticate(pam_handle_t *pamh, int, int, const char **)
{
	try {
		LinuxPam pam(pamh);
		return pamrpc::authenticate(pam);
	} catch (...) {
		return PAM_AUTH_ERR;
	}
}

PAM_EXTERN int pam_sm_setcred(pam_handle_t *, int, int, const char **)
{
	return PAM_SUCCESS;
}

PAM_EXTERN int pam_sm_acct_mgmt(pam_handle_t *, int, int, const char **)
{
	return PAM_SUCCESS;
}

PAM_EXTERN int pam_sm_open_session(pam_handle_t *, int, int, const char **)
{
	return PAM_SUCCESS;
}

PAM_EXTERN int pam_sm_close_session(pam_handle_t *pamh, int, int, const char **)
{
	try {
		LinuxPam pam(pamh);
		return pamrpc::close_session(pam);
	} catch (...) {
		return PAM_SESSION_ERR;
	}
}

} // extern "C"
