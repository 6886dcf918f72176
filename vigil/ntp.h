// "ntp": reachability, offset and delay of the configured NTP servers.
#pragma once

#include <wlc/bus.h>

#include <optional>
#include <string>
#include <vector>

namespace vigil {

// The names of "system.ntp.server", joined into at most 254 characters as
// the platform hands them on; nullopt when the configuration cannot be read.
[[nodiscard]] std::optional<std::vector<std::string>> ntp_servers();

int ntp_method(wlc::Request &req);

} // namespace vigil
