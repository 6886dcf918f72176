// The "iapp" object: key requests from peers and the keys they deliver.
#include <wlc/log.h>

#include <array>
#include <cstring>

#include "key.h"
#include "service.h"

namespace iapp {

namespace {

enum { K_FROM, K_WLAN, K_STA, K_BSSID, K_KEY, K_MAX };
const std::array<blobmsg_policy, K_MAX> kPolicy = {{
	{"from", BLOBMSG_TYPE_STRING}, {"wlan", BLOBMSG_TYPE_STRING}, {"sta", BLOBMSG_TYPE_STRING},
	{"bssid", BLOBMSG_TYPE_STRING}, {"key", BLOBMSG_TYPE_TABLE},
}};

struct KeyMsg {
	std::string_view from;
	std::string_view wlan;
	std::string_view sta_text;
	std::string_view bssid_text;
	Mac sta;
	Mac bssid;
	blob_attr *key = nullptr;
};

// Message strings are terminated where blobmsg checked them; a copy keeps
// the log calls simple.
std::string str(std::string_view s)
{
	return std::string(s);
}

// The fields common to key_get and key_set; nullopt when one is missing or
// an address does not parse.
std::optional<KeyMsg> key_msg(const char *method, blob_attr *msg, bool with_key)
{
	wlc::Fields<K_MAX> f;
	if (!f.parse(kPolicy, msg) || !f.has(K_FROM) || !f.has(K_WLAN) || !f.has(K_STA) || !f.has(K_BSSID) ||
	    (with_key && !f.has(K_KEY)))
		return std::nullopt;
	KeyMsg m{*f.str(K_FROM), *f.str(K_WLAN), *f.str(K_STA), *f.str(K_BSSID), {}, {}, f[K_KEY]};
	auto sta = parse_mac(m.sta_text);
	auto bssid = parse_mac(m.bssid_text);
	if (!sta || !bssid) {
		wlc::logf(LOG_WARNING, "Refused %s: bad address STA '%s' BSSID '%s'", method, str(m.sta_text).c_str(),
			  str(m.bssid_text).c_str());
		return std::nullopt;
	}
	m.sta = *sta;
	m.bssid = *bssid;
	return m;
}

const char *why_refused(KeyCheck check)
{
	switch (check) {
	case KeyCheck::missing: return "incomplete key";
	case KeyCheck::bad_length: return "key member of a wrong length";
	case KeyCheck::no_lifetime: return "key without lifetime";
	case KeyCheck::ok: break;
	}
	return "bad key";
}

} // namespace

std::vector<blobmsg_policy> Service::key_policy(bool with_key)
{
	return {kPolicy.begin(), with_key ? kPolicy.end() : kPolicy.end() - 1};
}

// A peer asks for a key for the station towards its BSSID: derive it here,
// where the station is associated, and send it back.
int Service::key_get(blob_attr *msg)
{
	auto m = key_msg("key_get", msg, false);
	if (!m)
		return UBUS_STATUS_INVALID_ARGUMENT;
	// The requester's identifier becomes a level of the key delivery topic.
	if (!topic_level_ok(m->from)) {
		wlc::logf(LOG_WARNING, "Refused key_get: bad AP id '%s'", str(m->from).c_str());
		return UBUS_STATUS_INVALID_ARGUMENT;
	}
	// Every interface running the wlan is tried; a failure on a later one
	// must not lose a key an earlier one gave.
	SecretPmk kept;
	for (const std::string &ifname : interfaces_running(m->wlan)) {
		SecretPmk attempt;
		if (zev_wifi_iface_sta_pmk_derive(ifname.c_str(), m->sta.data(), m->bssid.data(), attempt.get()) == 0 &&
		    attempt->lifetime != 0)
			kept.assign(*attempt);
	}
	if (kept->lifetime == 0) {
		wlc::logf(LOG_NOTICE, "failed to derive PMK of STA %s for BSSID %s of %s", str(m->sta_text).c_str(),
			  str(m->bssid_text).c_str(), str(m->from).c_str());
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	bool sent = publisher_.publish("zev/wlc/iapp/ap/" + std::string(m->from) + "/key_set", [&](wlc::BlobBuf &b) {
		b.add("from", own_id_);
		b.add("wlan", m->wlan);
		b.add("sta", m->sta_text);
		b.add("bssid", m->bssid_text);
		add_key_table(b, *kept);
	});
	return sent ? UBUS_STATUS_OK : UBUS_STATUS_UNKNOWN_ERROR;
}

// A peer delivers the key we asked for: install it on our interface with
// that BSSID. The key's bytes in the received message are wiped either way.
int Service::key_set(blob_attr *msg)
{
	wlc::Fields<K_MAX> f;
	blob_attr *key = f.parse(kPolicy, msg) ? f[K_KEY] : nullptr;
	int status = accept_key(msg);
	wipe_table(key);
	return status;
}

int Service::accept_key(blob_attr *msg)
{
	auto m = key_msg("key_set", msg, true);
	if (!m)
		return UBUS_STATUS_INVALID_ARGUMENT;
	SecretPmk pmk;
	KeyCheck check = read_key_table(m->key, *pmk.get());
	if (check == KeyCheck::missing)
		return UBUS_STATUS_INVALID_ARGUMENT;
	if (check != KeyCheck::ok) {
		wlc::logf(LOG_WARNING, "Refused key_set for STA %s from %s: %s", str(m->sta_text).c_str(),
			  str(m->from).c_str(), why_refused(check));
		return UBUS_STATUS_INVALID_ARGUMENT;
	}
	if (!asked_.take(m->from, m->wlan, m->sta, m->bssid)) {
		wlc::logf(LOG_WARNING, "Refused key_set for STA %s from %s: not requested", str(m->sta_text).c_str(),
			  str(m->from).c_str());
		return UBUS_STATUS_INVALID_ARGUMENT;
	}
	install_key(m->wlan, m->sta, m->bssid, *pmk);
	return UBUS_STATUS_OK;
}

void Service::install_key(std::string_view wlan, const Mac &sta, const Mac &bssid, const zev_wifi_pmk_r1 &pmk)
{
	for (const std::string &ifname : interfaces_running(wlan)) {
		Mac own;
		if (zev_wifi_iface_bssid(ifname.c_str(), own.data()) < 0 || own != bssid)
			continue;
		if (zev_wifi_iface_sta_pmk_save(ifname.c_str(), sta.data(), &pmk) < 0)
			wlc::logf(LOG_NOTICE, "failed to save PMK for STA %02x:%02x:%02x:%02x:%02x:%02x", sta[0], sta[1],
				  sta[2], sta[3], sta[4], sta[5]);
	}
}

} // namespace iapp
