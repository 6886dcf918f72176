// fleetctl: the operator's tool over fleetd's "fleet" object.
#include <cstdio>
#include <cstring>

#include "commands.h"
#include "config_commands.h"
#include "firmware_commands.h"
#include "telemetry_commands.h"

namespace {

void usage()
{
	std::fputs(fleetctl::kUsage, stderr);
	std::fputs(fleetctl::kConfigUsage, stderr);
	std::fputs(fleetctl::kFirmwareUsage, stderr);
	std::fputs(fleetctl::kTelemetryUsage, stderr);
}

// Options come before the command; false on an unknown one.
bool read_invocation(int argc, char **argv, fleetctl::Invocation &inv)
{
	int i = 1;
	for (; i < argc && argv[i][0] == '-'; i++) {
		if (std::strcmp(argv[i], "--json") == 0)
			inv.json = true;
		else if (std::strcmp(argv[i], "-s") == 0 && i + 1 < argc)
			inv.socket = argv[++i];
		else
			return false;
	}
	if (i >= argc)
		return false;
	inv.command = argv[i++];
	inv.args.assign(argv + i, argv + argc);
	return true;
}

} // namespace

int main(int argc, char **argv)
{
	fleetctl::Invocation inv;
	if (!read_invocation(argc, argv, inv)) {
		usage();
		return 2;
	}
	wlc::Bus bus;
	if (!bus.connect(inv.socket)) {
		std::fprintf(stderr, "fleetctl: cannot connect to the bus\n");
		return 1;
	}
	int rc = fleetctl::run_command(bus, inv);
	if (rc == 2)
		usage();
	return rc;
}
