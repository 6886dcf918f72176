// Station and BSS addresses as they travel in messages ("aa:bb:cc:dd:ee:ff"),
// and names that go into topics.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace iapp {

using Mac = std::array<uint8_t, 6>;

// Exactly six hexadecimal pairs separated by ":" (either case); nullopt for
// anything else, so that a malformed address is never acted on.
std::optional<Mac> parse_mac(std::string_view text);

// Lower-case "%02x:%02x:%02x:%02x:%02x:%02x".
std::string mac_text(const uint8_t *mac);
inline std::string mac_text(const Mac &mac) { return mac_text(mac.data()); }

// A name that stands as exactly one topic level: not empty and without "/",
// "+" or "#" (which would move later levels or make the topic a wildcard).
bool topic_level_ok(std::string_view name);

} // namespace iapp
