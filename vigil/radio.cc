// Radios, WLANs and stations as the driver reports them.
#include "radio.h"

#include <wlc/log.h>
#include <zev/factory.h>
#include <zev/util.h>

#include <arpa/inet.h>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace vigil {

namespace {

struct StaListFree {
	void operator()(zev_wifi_sta_list *l) const noexcept { std::free(l); }
};
using StaList = std::unique_ptr<zev_wifi_sta_list, StaListFree>;

struct WlanNode {
	bool up = false;
	const WlanIface *wlan = nullptr;
	MacBytes bssid = {}; // stays zero when the query fails
	char ssid[33] = {};
	int vlan = 0;
	uint8_t caps = 0;
	StaList stations;
};

struct RadioEntry {
	int band = 0;
	unsigned int radio = 0;
	bool up = false;
	MacBytes mac = {};
	int channel = 0;
	int power = INT_MIN;
	int bw = 0;
	std::vector<WlanNode> wlans;
};

struct RadioWalk {
	const WlanMap &map;
	MacBytes base;
	std::vector<RadioEntry> radios;
};

MacBytes base_mac()
{
	MacBytes mac = {};
	zev_factory *f = zev_factory_init(nullptr, 0);
	if (!f)
		return mac;
	if (zev_factory_layout_read(f, "wlan1", mac.data(), mac.size()) < 0)
		mac = {};
	zev_factory_free(f);
	return mac;
}

bool iface_up(const char *ifname)
{
	char state[128];
	return zev_net_iface_sys_param(ifname, "operstate", state, sizeof(state)) == 0 && std::strcmp(state, "up") == 0;
}

RadioEntry &radio_for(RadioWalk &w, const zev_wifi_iface &iface)
{
	for (RadioEntry &r : w.radios)
		if (r.band == iface.band)
			return r;
	RadioEntry r;
	r.band = iface.band;
	r.radio = iface.radio;
	r.mac = radio_mac(w.base, iface.radio);
	w.radios.push_back(std::move(r));
	return w.radios.back();
}

void learn_radio(RadioEntry &r, const char *ifname)
{
	if (r.channel < 1)
		r.channel = zev_wifi_iface_channel(ifname);
	int dbm;
	if (r.power == INT_MIN && zev_wifi_iface_tx_power_dbm(ifname, &dbm) == 0)
		r.power = dbm;
	if (r.bw < 1)
		r.bw = zev_wifi_iface_chbw(ifname);
}

WlanNode make_node(const RadioWalk &w, const char *ifname, bool up)
{
	WlanNode n;
	n.up = up;
	auto it = w.map.find(ifname);
	n.wlan = it == w.map.end() ? nullptr : &it->second;
	if (zev_wifi_iface_bssid(ifname, n.bssid.data()) < 0)
		n.bssid = {};
	if (zev_wifi_iface_essid(ifname, n.ssid, sizeof(n.ssid)) < 0)
		n.ssid[0] = '\0';
	n.ssid[sizeof(n.ssid) - 1] = '\0';
	if (zev_wifi_iface_ext_cap(ifname, &n.caps) < 0)
		n.caps = 0;
	n.vlan = zev_net_iface_vlan(ifname);
	if (up)
		n.stations.reset(zev_wifi_iface_stations(ifname));
	return n;
}

// Mapped WLANs in bss-index order first, the others after them.
void insert_node(std::vector<WlanNode> &list, WlanNode node)
{
	auto at = list.end();
	if (node.wlan) {
		for (auto it = list.begin(); it != list.end(); ++it) {
			if (!it->wlan || it->wlan->bss_index > node.wlan->bss_index) {
				at = it;
				break;
			}
		}
	}
	list.insert(at, std::move(node));
}

int visit_iface(const zev_wifi_iface *iface, void *user) noexcept
{
	try {
		auto &w = *static_cast<RadioWalk *>(user);
		RadioEntry &r = radio_for(w, *iface);
		bool up = iface_up(iface->ifname);
		r.up = r.up || up;
		learn_radio(r, iface->ifname);
		insert_node(r.wlans, make_node(w, iface->ifname, up));
		return 0;
	} catch (...) {
		return -1;
	}
}

bool bssid_known(const MacBytes &b)
{
	return std::any_of(b.begin(), b.end(), [](uint8_t x) { return x != 0; });
}

void add_caps(uint8_t caps, wlc::BlobBuf &reply)
{
	reply.add_bool("dot11r", caps & ZEV_STA_CAP_11R);
	reply.add_bool("dot11k", caps & ZEV_STA_CAP_11K);
	reply.add_bool("dot11v", caps & ZEV_STA_CAP_11V);
}

void add_wlan(const WlanNode &n, wlc::BlobBuf &reply)
{
	auto table = reply.table();
	reply.add_bool("up", n.up);
	reply.add_u32("index", static_cast<uint32_t>(n.wlan->bss_index));
	reply.add("wlan", n.wlan->wlan);
	if (bssid_known(n.bssid))
		reply.add("bssid", mac_text(n.bssid.data()));
	if (n.ssid[0])
		reply.add("ssid", n.ssid);
	if (n.vlan > 0)
		reply.add_u32("vlan", static_cast<uint32_t>(n.vlan));
	add_caps(n.caps, reply);
	if (n.stations) {
		auto clients = reply.array("clients");
		for (uint64_t i = 0; i < n.stations->count; i++)
			add_station(n.stations->sta[i], nullptr, reply);
	}
}

void add_radio(const RadioEntry &r, wlc::BlobBuf &reply)
{
	auto table = reply.table(std::to_string(r.radio).c_str());
	reply.add_bool("up", r.up);
	reply.add_u32("band", static_cast<uint32_t>(r.band));
	reply.add("mac", mac_text(r.mac.data()));
	if (!r.up)
		return;
	if (r.channel > 0)
		reply.add_u32("channel", static_cast<uint32_t>(r.channel));
	if (r.power != INT_MIN)
		reply.add_u32("power", static_cast<uint32_t>(r.power));
	if (r.bw > 0)
		reply.add_u32("bw", static_cast<uint32_t>(r.bw));
	auto wlans = reply.array("wlans");
	for (const WlanNode &n : r.wlans)
		if (n.wlan)
			add_wlan(n, reply);
}

int visit_clients(const zev_wifi_iface *iface, void *user) noexcept
{
	try {
		auto &reply = *static_cast<wlc::BlobBuf *>(user);
		StaList list(zev_wifi_iface_stations(iface->ifname));
		if (!list)
			return 0;
		MacBytes bssid = {};
		if (zev_wifi_iface_bssid(iface->ifname, bssid.data()) < 0)
			bssid = {};
		std::string text = mac_text(bssid.data());
		for (uint64_t i = 0; i < list->count; i++)
			add_station(list->sta[i], text.c_str(), reply);
		return 0;
	} catch (...) {
		return -1;
	}
}

} // namespace

std::string mac_text(const uint8_t *mac)
{
	char buf[18];
	std::snprintf(buf, sizeof(buf), "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
	return buf;
}

MacBytes radio_mac(const MacBytes &base, unsigned int radio)
{
	uint64_t v = 0;
	for (uint8_t b : base)
		v = v << 8 | b;
	// The offset is an unsigned 32-bit number: radio 0 adds 2^32 - 1.
	v += static_cast<uint32_t>(radio - 1u);
	MacBytes out;
	for (int i = 5; i >= 0; i--, v >>= 8)
		out[static_cast<size_t>(i)] = static_cast<uint8_t>(v);
	return out;
}

void add_station(const zev_wifi_sta &sta, const char *bssid, wlc::BlobBuf &reply)
{
	auto table = reply.table();
	if (bssid)
		reply.add("bssid", bssid);
	reply.add("mac", mac_text(sta.mac));
	{
		auto rssi = reply.array("rssi");
		for (int32_t v : sta.rssi)
			if (v != 0 && v >= -99)
				reply.add_u32(nullptr, static_cast<uint32_t>(v));
	}
	reply.add_double("rate", zev_wifi_sta_rate(&sta));
	reply.add_u32("mcs", sta.mcs);
	reply.add_u32("bw", sta.bw);
	reply.add_u32("stream", sta.nss);
	reply.add_u32("time", sta.connected_time);
	add_caps(sta.caps, reply);
	char ip[INET_ADDRSTRLEN];
	if (sta.ipv4 && zev_net_ipv4_to_str(htonl(sta.ipv4), ip) == 0)
		reply.add("ip", ip);
	std::string host(sta.hostname, strnlen(sta.hostname, sizeof(sta.hostname)));
	if (!host.empty())
		reply.add("hostname", host);
	auto stats = reply.table("stats");
	{
		auto up = reply.table("uplink");
		reply.add_u64("pkts", sta.uplink_pkts);
		reply.add_u64("octets", sta.uplink_bytes);
	}
	auto down = reply.table("downlink");
	reply.add_u64("pkts", sta.downlink_pkts);
	reply.add_u64("octets", sta.downlink_bytes);
}

void add_survey(const zev_wifi_chan_stats &s, wlc::BlobBuf &reply)
{
	auto table = reply.table();
	if (s.type < 2)
		reply.add_u32("type", s.type);
	reply.add_u32("channel", s.channel);
	reply.add_u32("interval", s.interval);
	reply.add_u32("busy_time", s.busy_time);
	reply.add_u32("rx_time", s.rx_time);
	reply.add_u32("tx_time", s.tx_time);
	reply.add_u32("obss_time", s.obss_time);
	reply.add_u32("non_wifi_time", s.non_wifi_time);
	reply.add_u32("false_cca", s.false_cca);
}

void add_bss(const zev_wifi_bss &b, wlc::BlobBuf &reply)
{
	auto table = reply.table();
	reply.add_u32("channel", b.channel);
	reply.add_u32("bw", b.bw);
	reply.add_u32("rssi", static_cast<uint32_t>(b.rssi));
	reply.add("ssid", std::string(b.ssid, strnlen(b.ssid, sizeof(b.ssid))));
	reply.add("bssid", mac_text(b.bssid));
	reply.add_u32("beacon_period", b.beacon_period);
	reply.add_u32("dtim_count", b.dtim_count);
	reply.add_u32("dtim_period", b.dtim_period);
	if (b.qbss) {
		auto q = reply.table("qbss");
		reply.add_u32("sta_num", b.sta_num);
		reply.add_u32("ch_util", b.ch_util);
		reply.add_u32("avail_admission_cap", b.avail_admission_cap);
	}
}

int radio_method(const WlanMap &wlans, wlc::Request &req)
{
	RadioWalk walk{wlans, base_mac(), {}};
	if (zev_wifi_iface_iter(visit_iface, &walk) != 0)
		return UBUS_STATUS_UNKNOWN_ERROR;
	wlc::BlobBuf reply;
	for (const RadioEntry &r : walk.radios)
		add_radio(r, reply);
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int wireless_clients_method(wlc::Request &req)
{
	wlc::BlobBuf reply;
	{
		auto clients = reply.array("clients");
		if (zev_wifi_iface_iter(visit_clients, &reply) != 0)
			return UBUS_STATUS_UNKNOWN_ERROR;
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace vigil
