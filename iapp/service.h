// The "iapp" object and the station-join handling: announcing stations to
// the mobility domain, asking the announcing AP for keys towards our BSSIDs,
// deriving keys for peers, installing the keys they send, and removing
// stations that moved elsewhere.
#pragma once

#include <wlc/bus.h>
#include <zev/wifi.h>

#include <string>
#include <string_view>
#include <vector>

#include "asked.h"
#include "options.h"
#include "publisher.h"

namespace iapp {

class Service {
public:
	Service(Options opts, wlc::Bus &bus, std::string own_id);
	Service(const Service &) = delete;
	Service &operator=(const Service &) = delete;

	// Registers "iapp"; the bus status.
	int add() { return object_.add(bus_); }
	void remove() { object_.remove(); }

	// A station joined a local interface (driver event).
	void on_join(const char *ifname, const zev_wifi_sta_join &ev);

	// The driver-event table: join events only.
	zev_wifi_event_cb event_table();

private:
	int sta_add(blob_attr *msg);
	int sta_move(blob_attr *msg);
	int key_get(blob_attr *msg);
	int key_set(blob_attr *msg);
	int accept_key(blob_attr *msg);
	// The fields of key_get, and with with_key of key_set.
	static std::vector<blobmsg_policy> key_policy(bool with_key);
	void install_key(std::string_view wlan, const Mac &sta, const Mac &bssid, const zev_wifi_pmk_r1 &pmk);

	// Local interfaces running the wlan, in ascending order of name.
	std::vector<std::string> interfaces_running(std::string_view wlan) const;

	Options opts_;
	wlc::Bus &bus_;
	std::string own_id_;
	Publisher publisher_;
	AskedKeys asked_;
	wlc::BusObject object_;
};

} // namespace iapp
