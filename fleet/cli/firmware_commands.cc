// fleetctl's firmware commands.
#include "firmware_commands.h"

#include <cstdio>
#include <ctime>
#include <thread>

#include "fleet_call.h"
#include "table.h"

namespace fleetctl {

const char *const kFirmwareUsage =
	"  firmware image <path in the image directory> [--model <model>]\n"
	"  firmware show\n"
	"  rollout start --version <version> --revision <revision> [--site <site>] [--parallel <n>]\n"
	"                [--failures <m>] [--timeout <seconds>] [--watch]\n"
	"  rollout show [--id <n>] [--watch]   (--watch: progress until the rollout ends)\n"
	"  rollout stop\n";

namespace {

constexpr std::chrono::seconds kWatchPeriod{2};

int image(wlc::Bus &bus, const Invocation &inv)
{
	std::map<std::string, std::string> opts;
	if (inv.args.size() < 2 || !read_options(inv.args, 2, opts))
		return 2;
	wlc::BlobBuf args;
	args.add("image", inv.args[1]);
	if (opts.count("model"))
		args.add("model", opts["model"]);
	Reply r = call_fleet(bus, "firmware_image", args);
	if (r.status != UBUS_STATUS_OK)
		return failed("firmware image", r);
	if (inv.json)
		return print_json(r);
	std::string model = field(r.data.head(), "model");
	std::printf("image of %s: %s\n", model.empty() ? "every model" : model.c_str(), field(r.data.head(), "image").c_str());
	return 0;
}

int show(wlc::Bus &bus, const Invocation &inv)
{
	if (inv.args.size() != 1)
		return 2;
	Reply r = call_fleet(bus, "firmware_show", wlc::BlobBuf());
	if (r.status != UBUS_STATUS_OK)
		return failed("firmware show", r);
	if (inv.json)
		return print_json(r);
	blob_attr *m = r.data.head();
	std::string version = field(m, "version");
	std::printf("release: %s\n", version.empty() ? "none" : (version + " " + field(m, "revision")).c_str());
	std::printf("images: %s\n", field(m, "images").c_str());
	if (!field(m, "rollout").empty())
		std::printf("last rollout: %s (%s)\n", field(m, "rollout").c_str(), field(m, "rollout_state").c_str());
	return 0;
}

// "rollout 1 of 23.05.3 r43: running, 1/3 done, 0 failed, 1 in progress"
std::string summary(blob_attr *m)
{
	wlc::BlobBuf counts;
	(void)counts.add_json(field(m, "counts"));
	auto n = [&](const char *s) { return std::atoll(field(counts.head(), s).c_str()); };
	long long total = n("queued") + n("offered") + n("installing") + n("done") + n("failed");
	std::string line = "rollout " + field(m, "id") + " of " + field(m, "version") + " " + field(m, "revision") + ": " +
			   field(m, "state") + ", " + std::to_string(n("done")) + "/" + std::to_string(total) + " done, " +
			   std::to_string(n("failed")) + " failed";
	if (long long busy = n("offered") + n("installing"))
		line += ", " + std::to_string(busy) + " in progress";
	std::string note = field(m, "note");
	return note.empty() ? line : line + " (" + note + ")";
}

void print_rollout(blob_attr *m)
{
	std::printf("%s\n", summary(m).c_str());
	Table t({"AP", "MODEL", "STATE", "SINCE", "DETAIL"});
	for (const wlc::BlobBuf &ap : entries(m, "aps")) {
		blob_attr *a = ap.head();
		t.add({field(a, "id"), field(a, "model"), field(a, "state"), utc_time(std::atoll(field(a, "since").c_str())),
		       field(a, "detail")});
	}
	std::fputs(t.render().c_str(), stdout);
}

// Shows the rollout; with watch, a progress line at every change until it ends.
int follow(wlc::Bus &bus, const Invocation &inv, const wlc::BlobBuf &args, bool watch)
{
	std::string last;
	for (;;) {
		Reply r = call_fleet(bus, "rollout_show", args);
		if (r.status != UBUS_STATUS_OK)
			return failed("rollout show", r);
		bool running = field(r.data.head(), "state") == "running";
		if (!watch || !running) {
			if (inv.json)
				return print_json(r);
			print_rollout(r.data.head());
			return 0;
		}
		std::string line = summary(r.data.head());
		if (line != last)
			std::printf("%s\n", line.c_str());
		std::fflush(stdout);
		last = line;
		std::this_thread::sleep_for(kWatchPeriod);
	}
}

int start(wlc::Bus &bus, const Invocation &inv)
{
	std::map<std::string, std::string> opts;
	wlc::BlobBuf args;
	if (!read_options(inv.args, 1, opts, {"watch"}) || !opts.count("version") || !opts.count("revision"))
		return 2;
	args.add("version", opts["version"]).add("revision", opts["revision"]);
	if (opts.count("site"))
		args.add("site", opts["site"]);
	if (!add_number(opts, "parallel", "max_parallel", args) || !add_number(opts, "failures", "max_failures", args) ||
	    !add_number(opts, "timeout", "timeout", args))
		return 2;
	Reply r = call_fleet(bus, "rollout_start", args);
	if (r.status != UBUS_STATUS_OK)
		return failed("rollout start", r);
	if (!opts.count("watch")) {
		if (inv.json)
			return print_json(r);
		std::printf("rollout %s started for %s APs\n", field(r.data.head(), "id").c_str(),
			    field(r.data.head(), "aps").c_str());
		return 0;
	}
	wlc::BlobBuf show;
	show.add_u32("id", static_cast<uint32_t>(std::atoi(field(r.data.head(), "id").c_str())));
	return follow(bus, inv, show, true);
}

int rollout_show(wlc::Bus &bus, const Invocation &inv)
{
	std::map<std::string, std::string> opts;
	wlc::BlobBuf args;
	if (!read_options(inv.args, 1, opts, {"watch"}) || !add_number(opts, "id", "id", args))
		return 2;
	return follow(bus, inv, args, opts.count("watch") != 0);
}

int stop(wlc::Bus &bus, const Invocation &inv)
{
	if (inv.args.size() != 1)
		return 2;
	Reply r = call_fleet(bus, "rollout_stop", wlc::BlobBuf());
	if (r.status != UBUS_STATUS_OK)
		return failed("rollout stop", r);
	if (inv.json)
		return print_json(r);
	std::printf("rollout %s stopped\n", field(r.data.head(), "id").c_str());
	return 0;
}

} // namespace

int run_firmware_command(wlc::Bus &bus, const Invocation &inv)
{
	std::string sub = inv.args.empty() ? "" : inv.args[0];
	if (inv.command == "firmware")
		return sub == "image" ? image(bus, inv) : sub == "show" ? show(bus, inv) : 2;
	if (sub == "start")
		return start(bus, inv);
	if (sub == "show")
		return rollout_show(bus, inv);
	if (sub == "stop")
		return stop(bus, inv);
	return 2;
}

} // namespace fleetctl
