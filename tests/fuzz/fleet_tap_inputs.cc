// fleetd's broker tap under untrusted messages.
#include "fleet_tap_inputs.h"

#include <array>
#include <cstdlib>
#include <string>
#include <vector>

#include "tap/tap_messages.h"
#include "tap/tap_store.h"

namespace wlcfuzz {

namespace {

const std::array<const char *, 4> kTopics = {
	"zev/wlc/telemetry/ap/ap1-a3-b4-c5/log",
	"zev/wlc/rrm/site1/ap/ap1-a3-b4-c5/0/cmd/config",
	"zev/wlc/rrm/site1/ap/all/0/cmd/config",
	"zev/wlc/rrm/site1/ap/all/0/cmd/agressive",
};

} // namespace

void fleet_tap_one_input(const uint8_t *data, size_t size)
{
	if (size == 0)
		return;
	const std::string topic = kTopics[data[0] % kTopics.size()];
	// An exactly sized copy, aligned as the broker client's payloads are
	// (allocated): any read past the end is caught.
	std::vector<uint8_t> payload(data + 1, data + size);
	fleet::TapStore store(fleet::TapLimits{2, 4096, 2, 64, 4});
	// What the tap keeps of it (its refusals, logged by the tap, are not).
	for (int i = 0; i < 3; i++) {
		fleet::Tapped t = fleet::read_tapped(topic, payload.data(), payload.size(), i);
		if (auto *line = std::get_if<fleet::TappedLine>(&t))
			store.add_line(line->ap, line->line);
		else if (auto *command = std::get_if<fleet::TappedCommand>(&t))
			store.add_command(command->site, command->command);
	}
	for (const fleet::LogLine &l : store.lines("ap1-a3-b4-c5", 100))
		if (l.msg.size() > 64)
			std::abort();
	if (store.lines("ap1-a3-b4-c5", 100).size() > 2 || store.commands("site1", 0, 100).size() > 2)
		std::abort();
}

} // namespace wlcfuzz
