// Checks of the names that reach the service from outside: device
// identifiers, MAC addresses, site names.
#pragma once

#include <string>
#include <string_view>

namespace fleet {

// The longest device identifier: the AP's 24-byte field less its terminator.
inline constexpr size_t kMaxDeviceIdLen = 23;

// A device identifier as an AP forms it: its model (without a "zev-"
// prefix) and the last three bytes of its MAC, "ap1-a3-b4-c5", cut to 23
// characters. Only letters, digits, '.', '_' and '-' (it is one topic
// level); one shorter than the cut ends in "-hh-hh-hh".
[[nodiscard]] bool is_device_id(std::string_view id);
// "00:11:22:a3:b4:c5" (either case).
[[nodiscard]] bool is_mac(std::string_view mac);
// A site name: 1..32 letters, digits, '.', '_' or '-'.
[[nodiscard]] bool is_site_name(std::string_view site);

// Outside text made safe to log or show: at most max bytes, anything but
// printable ASCII replaced by '?'.
[[nodiscard]] std::string printable(std::string_view text, size_t max = 64);

} // namespace fleet
