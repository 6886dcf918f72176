// A listening SOCK_SEQPACKET socket at a path of the device root, for the
// simulator's sides of the seams.
#pragma once

#include <wlc/loop.h>

#include <string>

namespace sim {

// Listens before the path appears (bound under a temporary name, then
// renamed), so a client that sees the path can connect. Empty on failure.
wlc::UniqueFd listen_seqpacket(const std::string &path);

} // namespace sim
