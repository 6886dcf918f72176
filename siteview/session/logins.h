// The accounts that may log in: a JSON file in the device root,
//   {"logins": [{"username": "admin", "password": "<crypt(3) hash>",
//                "read": ["<group pattern>", ...], "write": ["<group pattern>", ...]}]}
// as the session daemon's "login" sections name them: a login is granted the
// read part of every access-list group its "read" patterns match and the
// write part of those its "write" patterns match.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "acl.h"

namespace siteview {

struct Login {
	std::string username;
	std::string password_hash;
	std::vector<std::string> read;
	std::vector<std::string> write;
};

// The logins of a file's text; an entry without a user name or hash is left out.
[[nodiscard]] std::vector<Login> parse_logins(const std::string &text);
[[nodiscard]] std::vector<Login> load_logins(const std::string &path);

// Whether the password matches a crypt(3) hash ("$5$", "$6$", "$y$", ...);
// a locked or empty hash matches nothing.
[[nodiscard]] bool password_matches(const std::string &hash, const std::string &password);

// The calls a login is granted, with the groups it names.
[[nodiscard]] std::vector<Grant> granted_calls(const Login &login, const AclGroups &groups);

} // namespace siteview
