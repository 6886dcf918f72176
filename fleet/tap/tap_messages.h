// The messages the broker tap reads: an AP's log entry as its mast streams
// it ("zev/wlc/telemetry/ap/<id>/log": one blob attribute as the system log
// service delivers it, header included) and a channel or power command of
// an RRM controller ("zev/wlc/rrm/<site>/ap/<id or all>/<radio>/cmd/config":
// one blob attribute, a table with "channel" and/or "power"). Everything is
// checked before use; a message that does not fit is refused with a reason.
#pragma once

#include <cstddef>
#include <string>
#include <variant>

#include "tap/tap_store.h"

namespace fleet {

inline constexpr const char *kLogFilter = "zev/wlc/telemetry/ap/+/log";
inline constexpr const char *kCommandFilter = "zev/wlc/rrm/+/ap/+/+/cmd/config";

struct TappedLine {
	std::string ap;
	LogLine line;
};

struct TappedCommand {
	std::string site;
	RrmCommand command;
};

struct Refused {
	std::string reason;
};

using Tapped = std::variant<TappedLine, TappedCommand, Refused>;

// The message received at time at, or why it is refused.
[[nodiscard]] Tapped read_tapped(const std::string &topic, const void *payload, size_t len, int64_t at);

// Keeps the message in the store; one that is refused is logged
// ("Ignored tapped message on <topic>: <reason>") and dropped.
void take_tapped(TapStore &store, const std::string &topic, const void *payload, size_t len, int64_t at);

} // namespace fleet
