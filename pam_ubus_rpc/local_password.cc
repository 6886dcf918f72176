// Checking a password against the password and shadow files.
#include "local_password.h"

#include "secret.h"

#include <crypt.h>
#include <cstring>
#include <memory>
#include <optional>
#include <pwd.h>
#include <shadow.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace pamrpc {

namespace {

// The stored hash of a user; nullopt for an unknown user, "!!" when none is stored.
std::optional<SecretString> stored_hash(const char *user)
{
	long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
	std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 16384);
	passwd pw, *found = nullptr;
	if (getpwnam_r(user, &pw, buf.data(), buf.size(), &found) != 0 || !found)
		return std::nullopt;
	std::string hash = pw.pw_passwd ? pw.pw_passwd : "";
	if (hash == "x") {
		// getspnam rather than getspnam_r: name services that serve shadow
		// entries need not offer the reentrant call. PAM calls come one at a time.
		spwd *sp = getspnam(user);
		hash = sp && sp->sp_pwdp ? sp->sp_pwdp : "!!";
		if (sp && sp->sp_pwdp)
			wipe(sp->sp_pwdp, std::strlen(sp->sp_pwdp));
	}
	wipe(buf.data(), buf.size());
	return std::optional<SecretString>(std::in_place, std::move(hash));
}

bool equal_in_constant_time(const std::string &a, const char *b, size_t b_len)
{
	if (a.size() != b_len)
		return false;
	unsigned char diff = 0;
	for (size_t i = 0; i < b_len; i++)
		diff |= static_cast<unsigned char>(a[i] ^ b[i]);
	return diff == 0;
}

} // namespace

bool local_password_ok(const char *user, const char *password)
{
	std::optional<SecretString> hash = stored_hash(user);
	if (!hash)
		return false;
	const std::string &h = hash->get();
	if (h.empty() || h[0] == '!' || h[0] == '*')
		return false;
	auto data = std::make_unique<crypt_data>();
	const char *out = crypt_r(password, h.c_str(), data.get());
	// A failed crypt gives null or a string beginning with '*'.
	bool ok = out && out[0] != '*' && equal_in_constant_time(h, out, std::strlen(out));
	wipe(data.get(), sizeof(crypt_data));
	return ok;
}

} // namespace pamrpc
