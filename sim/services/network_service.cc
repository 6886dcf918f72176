// Stand-in for the platform's "network.interface.<name>" bus objects on a
// simulated device: one object per interface of /var/lib/sim/network.json,
// whose method "status" answers that interface's member of the file as it
// is at the time of the call (so a test can take an interface down).
//   sim_network [-s <socket>]
#include <fsroot/fsroot.h>
#include <wlc/bus.h>

#include <json-c/json.h>

#include <memory>
#include <string>
#include <vector>

#include "device/net_files.h"
#include "run_service.h"

namespace {

struct JsonFree {
	void operator()(json_object *o) const noexcept { json_object_put(o); }
};

std::unique_ptr<json_object, JsonFree> load()
{
	return std::unique_ptr<json_object, JsonFree>(
		json_object_from_file(wlc::root_path(sim::kNetworkStatusFile).c_str()));
}

int status(const std::string &name, wlc::Request &req)
{
	auto all = load();
	json_object *member = nullptr;
	if (!all || !json_object_object_get_ex(all.get(), name.c_str(), &member))
		return UBUS_STATUS_NOT_FOUND;
	wlc::BlobBuf reply;
	if (!reply.add_json(json_object_to_json_string(member)))
		return UBUS_STATUS_UNKNOWN_ERROR;
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace

int main(int argc, char **argv)
{
	auto all = load();
	if (!all || !json_object_is_type(all.get(), json_type_object))
		return 1;
	std::vector<std::unique_ptr<wlc::BusObject>> objects;
	std::vector<wlc::BusObject *> raw;
	json_object_object_foreach(all.get(), name, value) {
		(void)value;
		std::string n = name;
		objects.push_back(std::make_unique<wlc::BusObject>(
			"network.interface." + n,
			std::vector<wlc::Method>{{"status", {}, [n](wlc::Request &req, blob_attr *) { return status(n, req); }}},
			"network.interface"));
		raw.push_back(objects.back().get());
	}
	return sim::run_service("network", argc, argv, raw);
}
