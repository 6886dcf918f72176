// Access-list groups in the session daemon's acl.d format: one JSON file
// per application, each naming groups whose "read" and "write" parts grant
// bus calls ({"ubus": {"<object pattern>": ["<method pattern>", ...]}}).
#pragma once

#include <map>
#include <string>
#include <vector>

namespace siteview {

// One granted call: shell patterns for the object and the method.
struct Grant {
	std::string object;
	std::string function;
	bool operator==(const Grant &) const = default;
};

struct AclGroup {
	std::vector<Grant> read;
	std::vector<Grant> write;
};

using AclGroups = std::map<std::string, AclGroup>;

// Groups of one file's text; a malformed file or group gives nothing, and a
// malformed entry of a group is left out.
[[nodiscard]] AclGroups parse_acl(const std::string &text);
// Every *.json file of a directory (a device path), merged in name order.
[[nodiscard]] AclGroups load_acl_dir(const std::string &dir);

// Whether one of the grants matches the call.
[[nodiscard]] bool grants(const std::vector<Grant> &list, const std::string &object, const std::string &function);

} // namespace siteview
