// The tag recorded with each login: 8 bytes from the kernel's random source
// as 16 lower-case hexadecimal digits. Unpredictable, different for logins
// within the same second, and leaves the application's own rand() alone.
#pragma once

#include <optional>
#include <string>

namespace pamrpc {

[[nodiscard]] std::optional<std::string> random_session_tag();

} // namespace pamrpc
