// fleetctl's configuration commands.
#include "config_commands.h"

#include <wlc/blob.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "fleet_call.h"
#include "table.h"

namespace fleetctl {

const char *const kConfigUsage =
	"  config set (--site <site> | --group <group> | --ap <id>) (--file <path> | --text <json>)\n"
	"             [--reason <text>] [--draft] [--delay <seconds>]\n"
	"  config show (--site <site> | --group <group> | --ap <id>)\n"
	"  config history (--site <site> | --group <group> | --ap <id>) [--limit <n>]\n"
	"  group <id> [<group>]   (no group: the AP leaves its group)\n";

namespace {

constexpr size_t kMaxFile = 1024 * 1024;

// The one target option, as the call's field; false when not exactly one.
bool add_target(const std::map<std::string, std::string> &opts, wlc::BlobBuf &args)
{
	int n = 0;
	for (const char *name : {"site", "group", "ap"}) {
		auto it = opts.find(name);
		if (it != opts.end()) {
			args.add(name, it->second);
			n++;
		}
	}
	return n == 1;
}

// The document text of --file or --text; false with the reason printed.
bool document_text(const std::map<std::string, std::string> &opts, std::string &text)
{
	bool file = opts.count("file") != 0, inline_text = opts.count("text") != 0;
	if (file == inline_text)
		return false;
	if (inline_text) {
		text = opts.at("text");
		return true;
	}
	std::ifstream in(opts.at("file"), std::ios::binary);
	std::ostringstream s;
	if (in)
		s << in.rdbuf();
	if (!in || s.str().size() > kMaxFile) {
		std::fprintf(stderr, "fleetctl: config set: cannot read %s\n", opts.at("file").c_str());
		text.clear();
		return true;
	}
	text = s.str();
	return true;
}

int config_set(wlc::Bus &bus, const Invocation &inv)
{
	std::map<std::string, std::string> opts;
	wlc::BlobBuf args;
	std::string text;
	if (!read_options(inv.args, 1, opts, {"draft"}) || !add_target(opts, args) || !document_text(opts, text) ||
	    !add_number(opts, "delay", "delay", args))
		return 2;
	if (text.empty() && opts.count("file"))
		return 1;
	args.add("config", text);
	if (opts.count("reason"))
		args.add("reason", opts["reason"]);
	if (opts.count("draft"))
		args.add_bool("draft", true);
	Reply r = call_fleet(bus, "config_set", args);
	if (r.status != UBUS_STATUS_OK)
		return failed("config set", r);
	if (inv.json)
		return print_json(r);
	std::printf("%s %s: configuration version %s\n", field(r.data.head(), "scope").c_str(),
		    field(r.data.head(), "name").c_str(), field(r.data.head(), "version").c_str());
	return 0;
}

int config_show(wlc::Bus &bus, const Invocation &inv)
{
	std::map<std::string, std::string> opts;
	wlc::BlobBuf args;
	if (!read_options(inv.args, 1, opts, {}) || !add_target(opts, args))
		return 2;
	Reply r = call_fleet(bus, "config_show", args);
	if (r.status != UBUS_STATUS_OK)
		return failed("config show", r);
	if (inv.json)
		return print_json(r);
	Table t({"FIELD", "VALUE"});
	blob_attr *m = r.data.head();
	for (const char *name : {"scope", "name", "version", "author", "reason", "draft", "config"})
		t.add({name, field(m, name)});
	t.add({"at", utc_time(std::atoll(field(m, "at").c_str()))});
	if (field(m, "scope") == "ap") {
		for (const char *name : {"site", "group", "effective_version", "sent_version", "applied_version", "effective"})
			t.add({name, field(m, name)});
		t.add({"applied_at", utc_time(std::atoll(field(m, "applied_at").c_str()))});
	}
	std::fputs(t.render().c_str(), stdout);
	return 0;
}

int config_history(wlc::Bus &bus, const Invocation &inv)
{
	std::map<std::string, std::string> opts;
	wlc::BlobBuf args;
	if (!read_options(inv.args, 1, opts, {}) || !add_target(opts, args) || !add_number(opts, "limit", "limit", args))
		return 2;
	Reply r = call_fleet(bus, "config_history", args);
	if (r.status != UBUS_STATUS_OK)
		return failed("config history", r);
	if (inv.json)
		return print_json(r);
	Table t({"VERSION", "TIME", "AUTHOR", "REASON", "DRAFT", "CONFIG"});
	for (const wlc::BlobBuf &c : entries(r.data.head(), "changes")) {
		blob_attr *h = c.head();
		t.add({field(h, "version"), utc_time(std::atoll(field(h, "at").c_str())), field(h, "author"),
		       field(h, "reason"), field(h, "draft"), field(h, "config")});
	}
	std::fputs(t.render().c_str(), stdout);
	return 0;
}

int group(wlc::Bus &bus, const Invocation &inv)
{
	if (inv.args.empty() || inv.args.size() > 2)
		return 2;
	wlc::BlobBuf args;
	args.add("id", inv.args[0]);
	if (inv.args.size() == 2)
		args.add("group", inv.args[1]);
	Reply r = call_fleet(bus, "group_set", args);
	if (r.status != UBUS_STATUS_OK)
		return failed("group", r);
	if (inv.json)
		return print_json(r);
	std::string g = field(r.data.head(), "group"), message = field(r.data.head(), "message");
	std::printf("%s: %s%s\n", inv.args[0].c_str(), g.empty() ? "in no group" : ("in group " + g).c_str(),
		    message.empty() ? (" (version " + field(r.data.head(), "version") + ")").c_str() : " (unchanged)");
	return 0;
}

} // namespace

int run_config_command(wlc::Bus &bus, const Invocation &inv)
{
	if (inv.command == "group")
		return group(bus, inv);
	std::string sub = inv.args.empty() ? "" : inv.args[0];
	if (sub == "set")
		return config_set(bus, inv);
	if (sub == "show")
		return config_show(bus, inv);
	if (sub == "history")
		return config_history(bus, inv);
	return 2;
}

} // namespace fleetctl
