// The operator tool's commands: each turns its words into a call of the
// "fleet" object and prints the answer, as a table or as JSON.
#pragma once

#include <wlc/bus.h>

#include <string>
#include <vector>

namespace fleetctl {

struct Invocation {
	std::string socket;
	bool json = false;
	std::string command;
	std::vector<std::string> args;
};

// Exit status: 0 done, 1 refused or failed (the reason on standard error),
// 2 a usage error.
int run_command(wlc::Bus &bus, const Invocation &inv);

extern const char *const kUsage;

} // namespace fleetctl
