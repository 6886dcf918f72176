// What the controller and the agents read out of each other's messages,
// apart from the connections that deliver them: each reader takes the raw
// payload (untrusted bytes of any length) and yields what the role acts on.
#pragma once

#include <wlc/blob.h>

#include <cstddef>
#include <cstdint>
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

// A FIRMWARE message: where the image lies on the controller's server;
// nullopt without a path or a port.
struct FirmwareMessage {
	std::string path;
	uint32_t port = 0;
};
[[nodiscard]] std::optional<FirmwareMessage> read_firmware(const void *payload, size_t len);

// A telemetry request: the bus call the controller asks the AP to make.
// message points into the payload (null when the request has none).
enum class RequestRead { ok, bad_payload, bad_request, bad_command };
struct TelemetryRequest {
	uint32_t msg_id = 0;
	std::string object;
	std::string method;
	std::optional<uint32_t> timeout_ms;
	blob_attr *message = nullptr;
};
[[nodiscard]] RequestRead read_telemetry_request(const void *payload, size_t len, TelemetryRequest &req);

// An AP's response to a bridge request: the request's id and its data table
// (pointing into the payload; null when absent). nullopt without an id.
struct ResponseMessage {
	int32_t id = 0;
	blob_attr *data = nullptr;
};
[[nodiscard]] std::optional<ResponseMessage> read_response(const void *payload, size_t len);

// A reconfig request: the id to answer with once a configuration is in.
[[nodiscard]] std::optional<uint32_t> read_reconfig(const void *payload, size_t len);

// A log entry streamed by an AP: nullopt without its text or priority.
struct LogEntry {
	std::string msg;
	uint32_t priority = 0;
};
[[nodiscard]] std::optional<LogEntry> read_log_entry(const void *payload, size_t len);

} // namespace mast
