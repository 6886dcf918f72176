// Reading site files.
#include "site.h"

#include <json-c/json.h>

namespace sim {

namespace {

int member_int(json_object *obj, const char *key, int fallback)
{
	json_object *v;
	return json_object_object_get_ex(obj, key, &v) ? json_object_get_int(v) : fallback;
}

std::string member_string(json_object *obj, const char *key)
{
	json_object *v;
	return json_object_object_get_ex(obj, key, &v) ? json_object_get_string(v) : "";
}

bool add_links(json_object *site, World &world, std::string &why)
{
	json_object *hear;
	if (!json_object_object_get_ex(site, "hear", &hear))
		return true;
	for (size_t i = 0; i < json_object_array_length(hear); i++) {
		json_object *h = json_object_array_get_idx(hear, i);
		std::string a = member_string(h, "a"), b = member_string(h, "b");
		if (!world.find(a) || !world.find(b)) {
			why = "hear: unknown device " + a + " or " + b;
			return false;
		}
		world.hear(a, b, member_int(h, "rssi", -70));
	}
	return true;
}

void add_loads(json_object *site, World &world)
{
	json_object *loads;
	if (!json_object_object_get_ex(site, "load", &loads))
		return;
	for (size_t i = 0; i < json_object_array_length(loads); i++) {
		json_object *l = json_object_array_get_idx(loads, i);
		ChannelLoad &load = world.load(member_int(l, "channel", 1));
		load.busy = static_cast<uint32_t>(member_int(l, "busy", static_cast<int>(load.busy)));
		load.false_cca = static_cast<uint32_t>(member_int(l, "false_cca", static_cast<int>(load.false_cca)));
	}
}

} // namespace

bool load_site(const std::string &path, World &world, std::string &why)
{
	json_object *site = json_object_from_file(path.c_str());
	json_object *devices;
	if (!site || !json_object_object_get_ex(site, "devices", &devices) ||
	    !json_object_is_type(devices, json_type_array)) {
		why = "no \"devices\" array in " + path;
		json_object_put(site);
		return false;
	}
	bool ok = true;
	for (size_t i = 0; i < json_object_array_length(devices) && ok; i++) {
		json_object *obj = json_object_array_get_idx(devices, i);
		DeviceSpec device = device_from_json(obj);
		// Each device its own base MAC unless the site gives one: distinct
		// identities and BSSIDs.
		if (!json_object_object_get_ex(obj, "lan_mac", nullptr))
			device.lan_mac[3] = static_cast<uint8_t>(device.lan_mac[3] + i);
		if (device.root.empty() || world.find(device.name)) {
			why = "device " + device.name + " has no root or a duplicate name";
			ok = false;
		} else {
			world.add(device);
		}
	}
	ok = ok && add_links(site, world, why);
	if (ok)
		add_loads(site, world);
	json_object_put(site);
	return ok;
}

} // namespace sim
