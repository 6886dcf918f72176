// Calls of the "fleet" object.
#include "fleet_call.h"

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstdlib>

namespace fleetctl {

namespace {

constexpr int kCallTimeoutMs = 10000;

blob_attr *find_field(blob_attr *msg, const std::string &name)
{
	blob_attr *pos;
	size_t rem;
	blob_for_each_attr(pos, msg, rem)
	{
		if (blobmsg_check_attr(pos, true) && name == blobmsg_name(pos))
			return pos;
	}
	return nullptr;
}

} // namespace

Reply call_fleet(wlc::Bus &bus, const char *method, const wlc::BlobBuf &args)
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

std::string scalar_text(blob_attr *a)
{
	switch (blobmsg_type(a)) {
	case BLOBMSG_TYPE_STRING:
		return std::string(wlc::get_string(a).value_or(""));
	case BLOBMSG_TYPE_BOOL:
		return blobmsg_get_bool(a) ? "yes" : "no";
	case BLOBMSG_TYPE_INT32:
		return std::to_string(static_cast<int32_t>(blobmsg_get_u32(a)));
	case BLOBMSG_TYPE_INT64:
		return std::to_string(static_cast<long long>(blobmsg_get_u64(a)));
	default:
		return "";
	}
}

std::string field(blob_attr *msg, const std::string &name)
{
	blob_attr *pos = msg ? find_field(msg, name) : nullptr;
	if (!pos)
		return "";
	if (blobmsg_type(pos) == BLOBMSG_TYPE_TABLE)
		return wlc::BlobBuf().add_fields(pos).json();
	return scalar_text(pos);
}

std::vector<wlc::BlobBuf> entries(blob_attr *msg, const std::string &name)
{
	std::vector<wlc::BlobBuf> out;
	blob_attr *array = msg ? find_field(msg, name) : nullptr;
	if (!array || blobmsg_type(array) != BLOBMSG_TYPE_ARRAY)
		return out;
	blob_attr *pos;
	size_t rem;
	blobmsg_for_each_attr(pos, array, rem)
	{
		if (blobmsg_type(pos) != BLOBMSG_TYPE_TABLE)
			continue;
		wlc::BlobBuf one;
		one.add_fields(pos);
		out.push_back(std::move(one));
	}
	return out;
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

bool add_number(const std::map<std::string, std::string> &opts, const char *option, const char *name,
		wlc::BlobBuf &args)
{
	auto it = opts.find(option);
	if (it == opts.end())
		return true;
	char *end = nullptr;
	long v = std::strtol(it->second.c_str(), &end, 10);
	if (it->second.empty() || *end || v < INT32_MIN || v > INT32_MAX)
		return false;
	args.add_u32(name, static_cast<uint32_t>(static_cast<int32_t>(v)));
	return true;
}

} // namespace fleetctl
