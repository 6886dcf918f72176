// fleetctl's telemetry commands: "telemetry <id>" (the AP's time series,
// with --last for its last answers) and "cost --site <site> --radio <n>".
#pragma once

#include "commands.h"

namespace fleetctl {

int run_telemetry_command(wlc::Bus &bus, const Invocation &inv);

extern const char *const kTelemetryUsage;

} // namespace fleetctl
