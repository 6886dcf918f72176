// Feeds untrusted text to the readers of access-list and login files, and
// the grants they give to the access check.
#include "siteview_files_inputs.h"

#include <cstdlib>
#include <string>

#include "acl.h"
#include "logins.h"

namespace wlcfuzz {

void siteview_files_one_input(const uint8_t *data, size_t size)
{
	const std::string text(reinterpret_cast<const char *>(data), size);
	siteview::AclGroups groups = siteview::parse_acl(text);
	for (const siteview::Login &login : siteview::parse_logins(text)) {
		// A login is never without its name and hash.
		if (login.username.empty() || login.password_hash.empty())
			std::abort();
		std::vector<siteview::Grant> calls = siteview::granted_calls(login, groups);
		(void)siteview::grants(calls, "fleet", "list");
	}
}

} // namespace wlcfuzz
