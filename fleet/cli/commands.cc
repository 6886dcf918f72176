// The operator tool's commands.
#include "commands.h"

#include <wlc/blob.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "config_commands.h"
#include "firmware_commands.h"
#include "fleet_call.h"
#include "telemetry_commands.h"
#include "table.h"

namespace fleetctl {

const char *const kUsage =
	"usage: fleetctl [-s <bus socket>] [--json] <command>\n"
	"  list [--site <site>] [--state <state>] [--model <model>]\n"
	"  show <id> | approve <id> | refuse <id> | forget <id>\n"
	"  allow (--serial <serial> | --mac <mac>) [--site <site>]\n"
	"  history <id> [--limit <n>]\n"
	"  reboot <id> | reset <id> | enforced_auth <id> on|off\n";

namespace {

constexpr int32_t kPage = 2000;

// A message's scalar fields as text, by name.
using Row = std::map<std::string, std::string>;

Row read_row(blob_attr *table)
{
	Row row;
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, table, rem)
	{
		if (blob_is_extended(pos) && blobmsg_check_attr(pos, true))
			row[blobmsg_name(pos)] = scalar_text(pos);
	}
	return row;
}

// The named array of a message, null when absent.
blob_attr *array_of(const wlc::BlobBuf &msg, const char *name)
{
	blob_attr *pos;
	size_t rem;
	blob_for_each_attr(pos, msg.head(), rem)
	{
		if (blobmsg_check_attr(pos, true) && blobmsg_type(pos) == BLOBMSG_TYPE_ARRAY &&
		    std::string(blobmsg_name(pos)) == name)
			return pos;
	}
	return nullptr;
}

const char *status_text(int status)
{
	switch (status) {
	case UBUS_STATUS_INVALID_ARGUMENT:
		return "invalid argument";
	case UBUS_STATUS_NOT_FOUND:
		return "not found";
	case UBUS_STATUS_TIMEOUT:
		return "no answer in time";
	case UBUS_STATUS_METHOD_NOT_FOUND:
		return "unknown method";
	default:
		return "failed";
	}
}

int report_failure(const std::string &method, const Reply &r)
{
	std::string message = read_row(r.data.head())["message"];
	std::fprintf(stderr, "fleetctl: %s: %s\n", method.c_str(), message.empty() ? status_text(r.status) : message.c_str());
	return 1;
}

// "--name value" pairs into args; false on anything else.
bool read_flags(const std::vector<std::string> &words, size_t from, const std::vector<std::string> &names,
		wlc::BlobBuf &args, std::map<std::string, std::string> *numbers = nullptr)
{
	for (size_t i = from; i < words.size(); i += 2) {
		if (i + 1 >= words.size() || words[i].rfind("--", 0) != 0)
			return false;
		std::string name = words[i].substr(2);
		if (std::find(names.begin(), names.end(), name) == names.end())
			return false;
		if (numbers && numbers->count(name)) {
			char *end = nullptr;
			long v = std::strtol(words[i + 1].c_str(), &end, 10);
			if (words[i + 1].empty() || *end || v < INT32_MIN || v > INT32_MAX)
				return false;
			args.add_u32(name.c_str(), static_cast<uint32_t>(static_cast<int32_t>(v)));
		} else {
			args.add(name.c_str(), words[i + 1]);
		}
	}
	return true;
}

void print_list(const std::vector<Row> &aps)
{
	Table t({"ID", "SITE", "STATE", "ONLINE", "MODEL", "SERIAL", "MAC", "IP", "FIRMWARE", "LAST SEEN"});
	for (const Row &ap : aps) {
		Row a = ap;
		t.add({a["id"], a["site"], a["state"], a["online"], a["model"], a["serial"], a["mac"], a["ip"],
		       a["fw_version"] + " " + a["fw_revision"], utc_time(std::atoll(a["last_seen"].c_str()))});
	}
	std::fputs(t.render().c_str(), stdout);
}

int list(wlc::Bus &bus, const Invocation &inv)
{
	wlc::BlobBuf filter;
	if (!read_flags(inv.args, 0, {"site", "state", "model"}, filter))
		return 2;
	std::vector<Row> rows;
	wlc::BlobBuf all;
	int64_t total = -1;
	{
		auto aps = all.array("aps");
		for (int32_t offset = 0; total < 0 || offset < total; offset += kPage) {
			wlc::BlobBuf args;
			args.add_fields(filter.head()).add_u32("offset", static_cast<uint32_t>(offset)).add_u32("limit", kPage);
			Reply r = call_fleet(bus, "list", args);
			if (r.status != UBUS_STATUS_OK)
				return report_failure("list", r);
			total = std::atoll(read_row(r.data.head())["total"].c_str());
			blob_attr *page = array_of(r.data, "aps");
			blob_attr *pos;
			size_t rem;
			blobmsg_for_each_attr(pos, page, rem)
			{
				rows.push_back(read_row(pos));
				all.add_field(pos);
			}
			if (!page || blobmsg_data_len(page) == 0)
				break;
		}
	}
	all.add_u32("total", static_cast<uint32_t>(rows.size()));
	if (inv.json)
		std::printf("%s\n", all.json(true).c_str());
	else
		print_list(rows);
	return 0;
}

int show(wlc::Bus &bus, const Invocation &inv)
{
	if (inv.args.size() != 1)
		return 2;
	wlc::BlobBuf args;
	args.add("id", inv.args[0]);
	Reply r = call_fleet(bus, "show", args);
	if (r.status != UBUS_STATUS_OK)
		return report_failure("show", r);
	if (inv.json) {
		std::printf("%s\n", r.data.json(true).c_str());
		return 0;
	}
	Row ap = read_row(r.data.head());
	Table t({"FIELD", "VALUE"});
	for (const char *name : {"id", "site", "state", "online", "model", "serial", "mac", "ip", "hostname", "fw_version",
				 "fw_revision"})
		t.add({name, ap[name]});
	t.add({"first_seen", utc_time(std::atoll(ap["first_seen"].c_str()))});
	t.add({"last_seen", utc_time(std::atoll(ap["last_seen"].c_str()))});
	t.add({"cert", ap["cert"].empty() ? "none" : std::to_string(ap["cert"].size()) + " bytes"});
	std::string config = r.data.json();
	size_t at = config.find("\"custom_config\":");
	t.add({"custom_config", at == std::string::npos ? "{}" : config.substr(at + 16, config.size() - at - 17)});
	std::fputs(t.render().c_str(), stdout);
	return 0;
}

int action(wlc::Bus &bus, const Invocation &inv)
{
	if (inv.args.size() != 1)
		return 2;
	wlc::BlobBuf args;
	args.add("id", inv.args[0]);
	Reply r = call_fleet(bus, inv.command.c_str(), args);
	if (r.status != UBUS_STATUS_OK)
		return report_failure(inv.command, r);
	if (inv.json) {
		std::printf("%s\n", r.data.json(true).c_str());
		return 0;
	}
	Row a = read_row(r.data.head());
	std::printf("%s: %s%s\n", a["id"].c_str(), a["message"].c_str(),
		    a["state"].empty() ? "" : (" (state " + a["state"] + ")").c_str());
	return 0;
}

int enforced_auth(wlc::Bus &bus, const Invocation &inv)
{
	if (inv.args.size() != 2 || (inv.args[1] != "on" && inv.args[1] != "off"))
		return 2;
	wlc::BlobBuf args;
	args.add("id", inv.args[0]).add_bool("enabled", inv.args[1] == "on");
	Reply r = call_fleet(bus, "enforced_auth", args);
	if (r.status != UBUS_STATUS_OK)
		return report_failure("enforced_auth", r);
	if (inv.json) {
		std::printf("%s\n", r.data.json(true).c_str());
		return 0;
	}
	Row a = read_row(r.data.head());
	std::printf("%s: %s\n", a["id"].c_str(), a["message"].c_str());
	return 0;
}

int allow(wlc::Bus &bus, const Invocation &inv)
{
	wlc::BlobBuf args;
	if (!read_flags(inv.args, 0, {"serial", "mac", "site"}, args))
		return 2;
	Reply r = call_fleet(bus, "allow", args);
	if (r.status != UBUS_STATUS_OK)
		return report_failure("allow", r);
	if (inv.json) {
		std::printf("%s\n", r.data.json(true).c_str());
		return 0;
	}
	Row a = read_row(r.data.head());
	bool serial = a.count("serial") != 0;
	std::printf("%s %s allowed in site %s\n", serial ? "serial" : "MAC", (serial ? a["serial"] : a["mac"]).c_str(),
		    a["site"].c_str());
	return 0;
}

int history(wlc::Bus &bus, const Invocation &inv)
{
	if (inv.args.empty())
		return 2;
	wlc::BlobBuf args;
	args.add("id", inv.args[0]);
	std::map<std::string, std::string> numbers = {{"limit", ""}};
	if (!read_flags(inv.args, 1, {"limit"}, args, &numbers))
		return 2;
	Reply r = call_fleet(bus, "history", args);
	if (r.status != UBUS_STATUS_OK)
		return report_failure("history", r);
	if (inv.json) {
		std::printf("%s\n", r.data.json(true).c_str());
		return 0;
	}
	Table t({"SEQ", "TIME", "EVENT", "DETAIL"});
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, array_of(r.data, "events"), rem)
	{
		Row e = read_row(pos);
		t.add({e["seq"], utc_time(std::atoll(e["at"].c_str())), e["kind"], e["detail"]});
	}
	std::fputs(t.render().c_str(), stdout);
	return 0;
}

} // namespace

int run_command(wlc::Bus &bus, const Invocation &inv)
{
	const std::string &c = inv.command;
	if (c == "list")
		return list(bus, inv);
	if (c == "show")
		return show(bus, inv);
	if (c == "approve" || c == "refuse" || c == "forget" || c == "reboot" || c == "reset")
		return action(bus, inv);
	if (c == "enforced_auth")
		return enforced_auth(bus, inv);
	if (c == "allow")
		return allow(bus, inv);
	if (c == "history")
		return history(bus, inv);
	if (c == "config" || c == "group")
		return run_config_command(bus, inv);
	if (c == "firmware" || c == "rollout")
		return run_firmware_command(bus, inv);
	if (c == "telemetry" || c == "cost")
		return run_telemetry_command(bus, inv);
	return 2;
}

} // namespace fleetctl
