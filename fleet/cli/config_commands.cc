// fleetctl's configuration commands.
#include "config_commands.h"

#include <wlc/blob.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "table.h"

namespace fleetctl {

const char *const kConfigUsage =
	"  config set (--site <site> | --group <group> | --ap <id>) (--file <path> | --text <json>)\n"
	"             [--reason <text>] [--draft] [--delay <seconds>]\n"
	"  config show (--site <site> | --group <group> | --ap <id>)\n"
	"  config history (--site <site> | --group <group> | --ap <id>) [--limit <n>]\n"
	"  group <id> [<group>]   (no group: the AP leaves its group)\n";

namespace {

constexpr int kCallTimeoutMs = 10000;
constexpr size_t kMaxFile = 1024 * 1024;

struct Reply {
	int status = UBUS_STATUS_UNKNOWN_ERROR;
	wlc::BlobBuf data;
};

Reply call(wlc::Bus &bus, const char *method, const wlc::BlobBuf &args)
{
	Reply r;
	uint32_t id = bus.lookup("fleet");
	if (!id) {
		r.status = UBUS_STATUS_NOT_FOUND;
		r.data.add("message", "fleetd is not running (no \"fleet\" object on the bus)");
		return r;
	}
	r.status = bus.call(id, method, args, [&r](blob_attr *msg) { r.data.reset().add_fields(msg); }, kCallTimeoutMs);
	return r;
}

// A top-level field of a reply as text ("" when absent or not a scalar).
std::string field(blob_attr *msg, const std::string &name)
{
	blob_attr *pos;
	size_t rem;
	blob_for_each_attr(pos, msg, rem)
	{
		if (!blobmsg_check_attr(pos, true) || name != blobmsg_name(pos))
			continue;
		switch (blobmsg_type(pos)) {
		case BLOBMSG_TYPE_STRING:
			return std::string(wlc::get_string(pos).value_or(""));
		case BLOBMSG_TYPE_BOOL:
			return blobmsg_get_bool(pos) ? "yes" : "no";
		case BLOBMSG_TYPE_INT32:
			return std::to_string(static_cast<int32_t>(blobmsg_get_u32(pos)));
		case BLOBMSG_TYPE_INT64:
			return std::to_string(static_cast<long long>(blobmsg_get_u64(pos)));
		case BLOBMSG_TYPE_TABLE:
			return wlc::BlobBuf().add_fields(pos).json();
		default:
			return "";
		}
	}
	return "";
}

int failed(const char *what, const Reply &r)
{
	std::string message = field(r.data.head(), "message");
	if (message.empty())
		message = "failed with bus status " + std::to_string(r.status);
	std::fprintf(stderr, "fleetctl: %s: %s\n", what, message.c_str());
	return 1;
}

int print_json(const Reply &r)
{
	std::printf("%s\n", r.data.json(true).c_str());
	return 0;
}

// The words after the subcommand as --name value pairs; flags take no value.
bool read_options(const std::vector<std::string> &words, size_t from, std::map<std::string, std::string> &out,
		  const std::vector<std::string> &flags)
{
	for (size_t i = from; i < words.size(); i++) {
		if (words[i].rfind("--", 0) != 0)
			return false;
		std::string name = words[i].substr(2);
		if (std::find(flags.begin(), flags.end(), name) != flags.end()) {
			out[name] = "";
			continue;
		}
		if (i + 1 >= words.size())
			return false;
		out[name] = words[++i];
	}
	return true;
}

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

bool add_number(const std::map<std::string, std::string> &opts, const char *name, wlc::BlobBuf &args)
{
	auto it = opts.find(name);
	if (it == opts.end())
		return true;
	char *end = nullptr;
	long v = std::strtol(it->second.c_str(), &end, 10);
	if (it->second.empty() || *end || v < INT32_MIN || v > INT32_MAX)
		return false;
	args.add_u32(name, static_cast<uint32_t>(static_cast<int32_t>(v)));
	return true;
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
	    !add_number(opts, "delay", args))
		return 2;
	if (text.empty() && opts.count("file"))
		return 1;
	args.add("config", text);
	if (opts.count("reason"))
		args.add("reason", opts["reason"]);
	if (opts.count("draft"))
		args.add_bool("draft", true);
	Reply r = call(bus, "config_set", args);
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
	Reply r = call(bus, "config_show", args);
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
	if (!read_options(inv.args, 1, opts, {}) || !add_target(opts, args) || !add_number(opts, "limit", args))
		return 2;
	Reply r = call(bus, "config_history", args);
	if (r.status != UBUS_STATUS_OK)
		return failed("config history", r);
	if (inv.json)
		return print_json(r);
	Table t({"VERSION", "TIME", "AUTHOR", "REASON", "DRAFT", "CONFIG"});
	blob_attr *pos;
	size_t rem;
	blob_for_each_attr(pos, r.data.head(), rem)
	{
		if (!blobmsg_check_attr(pos, true) || blobmsg_type(pos) != BLOBMSG_TYPE_ARRAY)
			continue;
		blob_attr *c;
		size_t crem;
		blobmsg_for_each_attr(c, pos, crem)
		{
			wlc::BlobBuf one;
			one.add_fields(c);
			blob_attr *h = one.head();
			t.add({field(h, "version"), utc_time(std::atoll(field(h, "at").c_str())), field(h, "author"),
			       field(h, "reason"), field(h, "draft"), field(h, "config")});
		}
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
	Reply r = call(bus, "group_set", args);
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
