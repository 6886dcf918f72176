// Device descriptions and their JSON form.
#include "device_spec.h"

#include <cstdio>

namespace sim {

namespace {

std::string get_string(json_object *obj, const char *key, const std::string &fallback)
{
	json_object *v;
	return json_object_object_get_ex(obj, key, &v) && json_object_is_type(v, json_type_string)
		       ? json_object_get_string(v)
		       : fallback;
}

int get_int(json_object *obj, const char *key, int fallback)
{
	json_object *v;
	return json_object_object_get_ex(obj, key, &v) && json_object_is_type(v, json_type_int)
		       ? json_object_get_int(v)
		       : fallback;
}

bool get_bool(json_object *obj, const char *key, bool fallback)
{
	json_object *v;
	return json_object_object_get_ex(obj, key, &v) && json_object_is_type(v, json_type_boolean)
		       ? json_object_get_boolean(v)
		       : fallback;
}

RadioSpec radio_from_json(json_object *obj)
{
	RadioSpec r;
	r.band = get_int(obj, "band", r.band);
	r.ifprefix = get_string(obj, "ifprefix", r.band == 5 ? "rai" : "ra");
	r.channel = get_int(obj, "channel", r.band == 5 ? 36 : 6);
	r.width = get_int(obj, "width", r.band == 5 ? 80 : 20);
	r.txpower = get_int(obj, "txpower", r.txpower);
	json_object *ssids;
	if (json_object_object_get_ex(obj, "ssids", &ssids) && json_object_is_type(ssids, json_type_array)) {
		r.ssids.clear();
		for (size_t i = 0; i < json_object_array_length(ssids); i++)
			r.ssids.push_back(json_object_get_string(json_object_array_get_idx(ssids, i)));
	}
	return r;
}

} // namespace

Mac DeviceSpec::bssid(size_t radio, int unit) const
{
	Mac m = lan_mac;
	m[0] = static_cast<uint8_t>(m[0] | 0x02); // locally administered
	m[4] = static_cast<uint8_t>(m[4] + 0x10 * (radio + 1));
	m[5] = static_cast<uint8_t>(m[5] + unit);
	return m;
}

DeviceSpec device_from_json(json_object *obj)
{
	DeviceSpec d;
	d.name = get_string(obj, "name", d.name);
	d.root = get_string(obj, "root", d.root);
	d.model = get_string(obj, "model", d.model);
	parse_mac(get_string(obj, "lan_mac", mac_text(d.lan_mac)), d.lan_mac);
	d.serial = get_string(obj, "serial", d.serial);
	d.ipv4 = get_string(obj, "ipv4", d.ipv4);
	d.netmask = get_string(obj, "netmask", d.netmask);
	d.release = get_string(obj, "release", d.release);
	d.revision = get_string(obj, "revision", d.revision);
	d.switch_ports = get_int(obj, "switch_ports", d.switch_ports);
	d.switch_netlink = get_bool(obj, "switch_netlink", d.switch_netlink);
	d.running_slot = get_int(obj, "running_slot", d.running_slot) == 1 ? 1 : 0;
	d.cpu_load = get_int(obj, "cpu_load", d.cpu_load);
	json_object *slots;
	d.boot_slots = json_object_object_get_ex(obj, "boot_slots", &slots) && json_object_get_boolean(slots);
	json_object *radios, *vlans, *env;
	if (json_object_object_get_ex(obj, "radios", &radios) && json_object_is_type(radios, json_type_array)) {
		d.radios.clear();
		for (size_t i = 0; i < json_object_array_length(radios); i++)
			d.radios.push_back(radio_from_json(json_object_array_get_idx(radios, i)));
	}
	if (json_object_object_get_ex(obj, "vlans", &vlans) && json_object_is_type(vlans, json_type_array)) {
		d.vlans.clear();
		for (size_t i = 0; i < json_object_array_length(vlans); i++)
			d.vlans.push_back(json_object_get_int(json_object_array_get_idx(vlans, i)));
	}
	if (json_object_object_get_ex(obj, "env", &env) && json_object_is_type(env, json_type_object)) {
		json_object_object_foreach(env, key, val) d.env[key] = json_object_get_string(val);
	}
	return d;
}

std::string mac_text(const Mac &mac)
{
	char buf[18];
	std::snprintf(buf, sizeof(buf), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
	return buf;
}

bool parse_mac(const std::string &text, Mac &mac)
{
	unsigned int b[6];
	if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
		return false;
	for (int i = 0; i < 6; i++)
		mac[i] = static_cast<uint8_t>(b[i]);
	return true;
}

} // namespace sim
