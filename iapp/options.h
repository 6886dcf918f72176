// The command-line options of iapp: the mobility-domain site and which
// interface runs which wlan.
#pragma once

#include <map>
#include <optional>
#include <string>

namespace iapp {

struct Options {
	std::optional<std::string> site;
	// Interface name → wlan name, in ascending order of interface name (the
	// order in which interfaces of a wlan are visited). A name given again
	// replaces the earlier mapping.
	std::map<std::string, std::string> wlan_of;
};

// The longest interface name the driver takes (its name field holds 16 bytes
// with the terminator); a longer one would be cut and name another interface.
constexpr size_t kMaxIfnameLen = 15;

// Parses the options (option string "s:i:"), logging each one. Malformed
// values are logged and skipped; nullopt when an option is unknown.
std::optional<Options> parse_options(int argc, char **argv);

} // namespace iapp
