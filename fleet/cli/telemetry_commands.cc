// fleetctl's telemetry commands.
#include "telemetry_commands.h"

#include <cstdio>
#include <cstdlib>

#include "fleet_call.h"
#include "table.h"

namespace fleetctl {

const char *const kTelemetryUsage =
	"  telemetry <id> [--last]   (the AP's CPU, clients, channel and power over time; --last: its last answers)\n"
	"  cost --site <site> --radio <n>   (the RRM model cost over time)\n";

namespace {

// "radio0 ch 6 / 20 dBm" for each radio of a sample.
std::string radios_text(blob_attr *sample)
{
	std::string out;
	for (const wlc::BlobBuf &r : entries(sample, "radios")) {
		blob_attr *a = r.head();
		std::string ch = field(a, "channel"), power = field(a, "power");
		out += (out.empty() ? "" : ", ") + std::string("radio") + field(a, "radio") + " ch " +
		       (ch.empty() ? "-" : ch) + " / " + (power.empty() ? "-" : power + " dBm");
	}
	return out;
}

int ap_series(wlc::Bus &bus, const Invocation &inv)
{
	std::map<std::string, std::string> opts;
	if (inv.args.empty() || !read_options(inv.args, 1, opts, {"last"}))
		return 2;
	wlc::BlobBuf args;
	args.add("id", inv.args[0]);
	bool last = opts.count("last") != 0;
	Reply r = call_fleet(bus, last ? "telemetry_show" : "telemetry_series", args);
	if (r.status != UBUS_STATUS_OK)
		return failed("telemetry", r);
	if (inv.json || last)
		return print_json(r);
	Table t({"TIME", "CPU %", "CLIENTS", "RADIOS"});
	for (const wlc::BlobBuf &s : entries(r.data.head(), "samples")) {
		blob_attr *a = s.head();
		std::string cpu = field(a, "cpu"), clients = field(a, "clients");
		t.add({utc_time(std::atoll(field(a, "at").c_str())), cpu.empty() ? "-" : cpu,
		       clients.empty() ? "-" : clients, radios_text(a)});
	}
	std::fputs(t.render().c_str(), stdout);
	return 0;
}

int cost(wlc::Bus &bus, const Invocation &inv)
{
	std::map<std::string, std::string> opts;
	wlc::BlobBuf args;
	if (!read_options(inv.args, 0, opts) || !opts.count("site") || !opts.count("radio"))
		return 2;
	args.add("site", opts["site"]);
	if (!add_number(opts, "radio", "radio", args))
		return 2;
	Reply r = call_fleet(bus, "telemetry_series", args);
	if (r.status != UBUS_STATUS_OK)
		return failed("cost", r);
	if (inv.json)
		return print_json(r);
	Table t({"TIME", "COST"});
	for (const wlc::BlobBuf &c : entries(r.data.head(), "cost"))
		t.add({utc_time(std::atoll(field(c.head(), "at").c_str())), field(c.head(), "cost")});
	std::fputs(t.render().c_str(), stdout);
	return 0;
}

} // namespace

int run_telemetry_command(wlc::Bus &bus, const Invocation &inv)
{
	return inv.command == "cost" ? cost(bus, inv) : ap_series(bus, inv);
}

} // namespace fleetctl
