// Name resolution for the NTP check: the system's asynchronous lookups,
// bounded in time; lookups that outlive the check are kept until the
// resolver is done with them.
#pragma once

#include <netinet/in.h>

#include <optional>
#include <string>
#include <vector>

namespace vigil::ntp {

// The IPv4 address of each name (nullopt: not resolved in time), port 123.
// nullopt as a whole when the lookups cannot be set up.
std::optional<std::vector<std::optional<sockaddr_in>>> resolve(const std::vector<std::string> &names, int limit_ms);

} // namespace vigil::ntp
