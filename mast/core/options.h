// The command-line options of mast.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mast {

enum class Role { Ap = 0, Wlc = 1 };

struct BrokerAddress {
	std::string host;
	int32_t port = 0; // 0: the default port
};

struct RrmAgentEntry {
	uint8_t radio = 0;
	std::string site;
};

// Every list holds its entries in the reverse of their command-line order.
struct Options {
	Role role = Role::Ap;
	bool adopted = false;
	bool draft = false;
	bool enforced_auth = false;
	std::vector<BrokerAddress> brokers;
	std::optional<std::string> username;
	std::optional<std::string> password;
	std::optional<std::string> site;
	std::vector<std::string> wlans;
	std::vector<std::string> rrm_ctrl_sites;
	std::vector<RrmAgentEntry> rrm_agents;
};

// Parses the options (option string "r:ah:u:p:s:w:fm:g:d"), logging each one;
// nullopt when an option is unknown or malformed.
std::optional<Options> parse_options(int argc, char **argv);

} // namespace mast
