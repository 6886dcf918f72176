// Reading the managed radio through the device library.
#include "radio.h"

#include <zev/util.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace rrm {

namespace {

int collect(const zev_wifi_iface *iface, void *user) noexcept
{
	try {
		static_cast<std::vector<zev_wifi_iface> *>(user)->push_back(*iface);
	} catch (...) {
	}
	return 0;
}

bool link_up(const char *ifname)
{
	char state[8] = {};
	return zev_net_iface_sys_param(ifname, "operstate", state, sizeof state) >= 0 && std::strcmp(state, "up") == 0;
}

void add_stations(RadioReport &r, const char *ifname)
{
	std::unique_ptr<zev_wifi_sta_list, decltype(&std::free)> list(zev_wifi_iface_stations(ifname), &std::free);
	if (!list)
		return;
	for (uint64_t i = 0; i < list->count && r.stations.size() < max_stations; i++)
		r.stations.push_back(list->sta[i]);
}

} // namespace

std::vector<zev_wifi_iface> up_interfaces(int radio)
{
	std::vector<zev_wifi_iface> all, up;
	zev_wifi_iface_iter(&collect, &all);
	for (const zev_wifi_iface &i : all)
		if (i.radio == radio && link_up(i.ifname))
			up.push_back(i);
	return up;
}

RadioReport build_radio_report(int radio)
{
	RadioReport r;
	for (const zev_wifi_iface &i : up_interfaces(radio)) {
		if (r.channel == 0) {
			int ch = zev_wifi_iface_channel(i.ifname);
			r.channel = ch > 0 && ch <= 255 ? ch : 0; // a failed read is no channel
		}
		int dbm = 0;
		if (r.power <= unknown_power && zev_wifi_iface_tx_power_dbm(i.ifname, &dbm) == 0)
			r.power = dbm;
		Mac bssid{};
		if (r.bssids.size() < max_radio_bssids && zev_wifi_iface_bssid(i.ifname, bssid.data()) == 0 &&
		    !mac_is_zero(bssid.data()))
			r.bssids.push_back(bssid);
		add_stations(r, i.ifname);
	}
	return r;
}

} // namespace rrm
