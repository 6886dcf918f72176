// fleetctl's configuration commands: "config set|show|history" and "group".
#pragma once

#include "commands.h"

namespace fleetctl {

// As run_command: 0 done, 1 refused or failed, 2 a usage error.
int run_config_command(wlc::Bus &bus, const Invocation &inv);

extern const char *const kConfigUsage;

} // namespace fleetctl
