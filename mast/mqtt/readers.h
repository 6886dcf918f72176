// What the controller and the agents read out of each other's messages,
// apart from the connections that deliver them: each reader takes the raw
// payload (untrusted bytes of any length) and yields what the role acts on.
#pragma once

#include <wlc/blob.h>

#include <cstddef>
#include <optional>
#include <string>

namespace mast {

// A JOIN_REQ: fills rec with the AP database record of the AP named ap.
enum class JoinRead { ok, missing_payload, not_enough_data };
[[nodiscard]] JoinRead read_join_request(const std::string &ap, const void *payload, size_t len, wlc::BlobBuf &rec);

// An ONLINE (presence) message: fills rec with the AP database record of the
// AP named ap; returns whether the AP is online (an unreadable payload counts
// as offline).
[[nodiscard]] bool read_presence(const std::string &ap, const void *payload, size_t len, wlc::BlobBuf &rec);

// A VERSION message; nullopt when the payload does not hold together.
struct VersionMessage {
	std::optional<std::string> revision;
	std::string version; // empty when absent
};
[[nodiscard]] std::optional<VersionMessage> read_version(const void *payload, size_t len);

// A CONFIG message; nullopt when it is bad (no payload, malformed fields, no
// id or no configuration table).
struct ConfigMessage {
	std::string id;
	std::string json; // the configuration as JSON; empty when it cannot be rendered
	bool draft = false;
};
[[nodiscard]] std::optional<ConfigMessage> read_config(const void *payload, size_t len);

} // namespace mast
