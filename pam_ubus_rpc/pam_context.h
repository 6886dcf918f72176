// What the login steps need from PAM, behind an interface so that the steps
// can also be driven without a PAM stack.
#pragma once

#include <optional>
#include <string>

namespace pamrpc {

class PamContext {
public:
	virtual ~PamContext() = default;

	// The user name and the password (PAM's own copy); null when missing.
	virtual const char *user() = 0;
	virtual const char *password() = 0;
	// PAM_SERVICE and PAM_RHOST, when set.
	virtual std::optional<std::string> service() = 0;
	virtual std::optional<std::string> remote() = 0;
	// The rpc session id kept as PAM data until PAM ends; false when it cannot be kept.
	[[nodiscard]] virtual bool keep_session(const std::string &id) = 0;
	virtual std::optional<std::string> kept_session() = 0;
	virtual void forget_session() = 0;
	// An error message shown to the user.
	virtual void show_error(const char *text) = 0;
};

// The steps of the module's entry points; each returns a PAM result.
int authenticate(PamContext &pam);
int close_session(PamContext &pam);

} // namespace pamrpc
