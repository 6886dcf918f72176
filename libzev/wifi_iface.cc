// The board's radios and the iteration over their virtual interfaces.
#include <zev/devinfo.h>
#include <zev/wifi.h>

#include <fsroot/fsroot.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <json-c/json.h>
#include <string>
#include <vector>

namespace {

struct Radio {
	char ifprefix[16];
	uint8_t radio;
	uint8_t band;
};

struct RadioTable {
	bool loaded = false;
	std::vector<Radio> radios;
};

RadioTable table;

void load_radios()
{
	std::string path = wlc::root_path("/etc/boards/" + std::string(zev_devinfo_model()) + ".json");
	json_object *board = json_object_from_file(path.c_str());
	json_object *radios;
	if (board && json_object_object_get_ex(board, "radios", &radios) && json_object_is_type(radios, json_type_object)) {
		json_object_object_foreach(radios, key, value) {
			json_object *band, *prefix;
			if (!json_object_object_get_ex(value, "band", &band) ||
			    !json_object_object_get_ex(value, "ifprefix", &prefix))
				continue;
			Radio r = {};
			std::snprintf(r.ifprefix, sizeof(r.ifprefix), "%s", json_object_get_string(prefix));
			r.radio = static_cast<uint8_t>(std::atoi(key));
			r.band = static_cast<uint8_t>(json_object_get_int(band));
			table.radios.push_back(r);
		}
	}
	json_object_put(board);
	table.loaded = true;
}

// The unit number after the prefix, or -1 when the name does not follow the pattern.
long unit_of(const char *name, const char *prefix)
{
	size_t n = std::strlen(prefix);
	if (std::strncmp(name, prefix, n) != 0)
		return -1;
	unsigned int unit;
	return std::sscanf(name + n, "%u", &unit) == 1 && name[n] >= '0' && name[n] <= '9' ? static_cast<long>(unit) : -1;
}

// Calls back for each interface of one radio; 1 to go on, 0 or -1 to stop with that result.
int iterate_radio(const Radio &r, zev_wifi_iface_cb cb, void *user)
{
	DIR *dir = opendir(wlc::root_path("/sys/class/net").c_str());
	if (!dir)
		return -1;
	int result = 1;
	while (dirent *e = readdir(dir)) {
		long unit = unit_of(e->d_name, r.ifprefix);
		if (unit < 0)
			continue;
		zev_wifi_iface iface = {};
		size_t n = std::min(std::strlen(e->d_name), sizeof(iface.ifname) - 1);
		std::memcpy(iface.ifname, e->d_name, n);
		iface.radio = r.radio;
		iface.band = r.band;
		iface.unit = static_cast<uint8_t>(unit);
		int ret = cb(&iface, user);
		if (ret != 0) {
			result = ret == 1 ? 0 : -1;
			break;
		}
	}
	closedir(dir);
	return result;
}

} // namespace

extern "C" {

int zev_wifi_iface_iter(zev_wifi_iface_cb cb, void *user)
{
	if (!table.loaded)
		load_radios();
	for (const Radio &r : table.radios) {
		int ret = iterate_radio(r, cb, user);
		if (ret != 1)
			return ret;
	}
	return 0;
}

} // extern "C"
