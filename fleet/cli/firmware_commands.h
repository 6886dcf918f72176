// fleetctl's firmware commands: "firmware image|show" and "rollout
// start|show|stop", with the progress of a rollout followed until it ends.
#pragma once

#include "commands.h"

namespace fleetctl {

// As run_command: 0 done, 1 refused or failed, 2 a usage error.
int run_firmware_command(wlc::Bus &bus, const Invocation &inv);

extern const char *const kFirmwareUsage;

} // namespace fleetctl
