// Values the platform fixes inside its own builds rather than in its installed
// headers: the bus daemon and its library are built with the socket path and
// the largest message as definitions of their build, so no program outside
// them sees those names. Programs that need the values take them from here,
// with the platform's values.
#pragma once

#include <cstddef>

namespace wlc::platform {

// Where the bus daemon listens and where clients connect by default.
inline constexpr const char *kBusSocket = "/var/run/ubus/ubus.sock";

// The largest attribute list one bus message may carry.
inline constexpr std::size_t kBusMaxMessageLength = 1048576;

// The deepest nesting of tables and arrays that the bundled blobmsg checks and
// JSON renderer accept (a limit of the bundled libraries, not a platform name).
inline constexpr int kBlobmsgMaxDepth = 64;

} // namespace wlc::platform
