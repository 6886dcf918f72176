// The "iapp" object: station announcements, moves and the join event.
#include "service.h"

#include <wlc/log.h>

#include <array>

namespace iapp {

namespace {

enum { S_FROM, S_WLAN, S_STA, S_MAX };
const std::array<blobmsg_policy, S_MAX> kStationPolicy = {{
	{"from", BLOBMSG_TYPE_STRING}, {"wlan", BLOBMSG_TYPE_STRING}, {"sta", BLOBMSG_TYPE_STRING},
}};

struct StationMsg {
	std::string_view from;
	std::string_view wlan;
	Mac sta;
};

// The three fields of "sta_add" and "sta_move"; nullopt with the status to
// answer in `status`.
std::optional<StationMsg> station_msg(const char *method, blob_attr *msg, const std::string &own_id, int &status)
{
	wlc::Fields<S_MAX> f;
	status = UBUS_STATUS_INVALID_ARGUMENT;
	if (!f.parse(kStationPolicy, msg) || !f.has(S_FROM) || !f.has(S_WLAN) || !f.has(S_STA))
		return std::nullopt;
	StationMsg m{*f.str(S_FROM), *f.str(S_WLAN), {}};
	if (m.from == own_id)
		return std::nullopt;
	auto sta = parse_mac(*f.str(S_STA));
	if (!sta) {
		wlc::logf(LOG_WARNING, "Refused %s: bad STA address '%.*s'", method, static_cast<int>(f.str(S_STA)->size()),
			  f.str(S_STA)->data());
		return std::nullopt;
	}
	m.sta = *sta;
	return m;
}

void on_join_event(const char *ifname, const zev_wifi_sta_join *ev, void *user) noexcept
{
	try {
		if (ifname && ev)
			static_cast<Service *>(user)->on_join(ifname, *ev);
	} catch (const std::exception &e) {
		wlc::logf(LOG_ERR, "Failed to handle a station join: %s", e.what());
	}
}

} // namespace

Service::Service(Options opts, wlc::Bus &bus, std::string own_id)
	: opts_(std::move(opts)),
	  bus_(bus),
	  own_id_(std::move(own_id)),
	  publisher_(bus),
	  object_("iapp", {
		{"sta_add", {kStationPolicy.begin(), kStationPolicy.end()}, [this](wlc::Request &, blob_attr *m) { return sta_add(m); }},
		{"sta_move", {kStationPolicy.begin(), kStationPolicy.end()}, [this](wlc::Request &, blob_attr *m) { return sta_move(m); }},
		{"key_get", key_policy(false), [this](wlc::Request &, blob_attr *m) { return key_get(m); }},
		{"key_set", key_policy(true), [this](wlc::Request &, blob_attr *m) { return key_set(m); }},
	  })
{
}

zev_wifi_event_cb Service::event_table()
{
	return zev_wifi_event_cb{on_join_event, nullptr, nullptr, nullptr, this};
}

std::vector<std::string> Service::interfaces_running(std::string_view wlan) const
{
	std::vector<std::string> out;
	for (const auto &[ifname, w] : opts_.wlan_of)
		if (w == wlan)
			out.push_back(ifname);
	return out;
}

void Service::on_join(const char *ifname, const zev_wifi_sta_join &ev)
{
	std::string sta = mac_text(ev.mac);
	auto mapped = opts_.wlan_of.find(ifname);
	if (!opts_.site || mapped == opts_.wlan_of.end())
		return;
	std::string topic = "zev/wlc/iapp/md/" + *opts_.site + "/" + mapped->second + (ev.moved ? "/sta_move" : "/sta_add");
	(void)publisher_.publish(topic, [&](wlc::BlobBuf &b) {
		b.add("from", own_id_);
		b.add("sta", sta);
	});
}

// Another AP announced a station: ask it for a key towards each of our
// interfaces running that wlan.
int Service::sta_add(blob_attr *msg)
{
	int status;
	auto m = station_msg("sta_add", msg, own_id_, status);
	if (!m)
		return status;
	// The announcer's identifier becomes a level of the key request topic.
	if (!topic_level_ok(m->from)) {
		wlc::logf(LOG_WARNING, "Refused sta_add: bad AP id '%.*s'", static_cast<int>(m->from.size()), m->from.data());
		return UBUS_STATUS_INVALID_ARGUMENT;
	}
	std::string topic = "zev/wlc/iapp/ap/" + std::string(m->from) + "/key_get";
	std::string sta = mac_text(m->sta);
	for (const std::string &ifname : interfaces_running(m->wlan)) {
		Mac bssid;
		if (zev_wifi_iface_bssid(ifname.c_str(), bssid.data()) < 0)
			continue;
		asked_.remember(m->from, m->wlan, m->sta, bssid);
		(void)publisher_.publish(topic, [&](wlc::BlobBuf &b) {
			b.add("from", own_id_);
			b.add("wlan", m->wlan);
			b.add("sta", sta);
			b.add("bssid", mac_text(bssid));
		});
	}
	return UBUS_STATUS_OK;
}

// The station is now served by another AP: disconnect it here.
int Service::sta_move(blob_attr *msg)
{
	int status;
	auto m = station_msg("sta_move", msg, own_id_, status);
	if (!m)
		return status;
	for (const std::string &ifname : interfaces_running(m->wlan)) {
		if (zev_wifi_iface_sta_del(ifname.c_str(), m->sta.data()) < 0)
			wlc::logf(LOG_NOTICE, "failed to delete STA %02x:%02x:%02x:%02x:%02x:%02x", m->sta[0], m->sta[1],
				  m->sta[2], m->sta[3], m->sta[4], m->sta[5]);
	}
	return UBUS_STATUS_OK;
}

} // namespace iapp
