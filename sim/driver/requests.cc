// The simulated drivers' answers.
#include "requests.h"

#include <openssl/hmac.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <net/if.h>
#include <linux/wireless.h>
#include <sys/ioctl.h>
#include <mtd/mtd-user.h>
#include <sys/stat.h>

#include "events.h"

namespace sim {

namespace {

constexpr uint32_t kPrivSet = SIOCIWFIRSTPRIV + 0x01;   // 0x8BE1
constexpr uint32_t kPrivQuery = SIOCIWFIRSTPRIV + 0x0E; // 0x8BEE
constexpr uint32_t kPrivStations = SIOCIWFIRSTPRIV + 0x1F;
constexpr size_t kStationTable = 60936;
constexpr size_t kStationEntry = 112;
constexpr size_t kMaxStations = 544;
constexpr size_t kPmkRequest = 167;

DriverAnswer fail(int error)
{
	DriverAnswer a;
	a.result = -1;
	a.error = error;
	return a;
}

void put_le(std::vector<uint8_t> &b, size_t at, uint64_t v, int bytes)
{
	for (int i = 0; i < bytes; i++)
		b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

std::string ifname_of(const std::vector<uint8_t> &ifr)
{
	char name[IFNAMSIZ + 1] = {};
	std::memcpy(name, ifr.data(), IFNAMSIZ);
	return name;
}

RadioState *radio_of(Ap &ap, const Interface &i)
{
	return i.radio < 0 ? nullptr : &ap.radios[static_cast<size_t>(i.radio)];
}

DriverAnswer mtd_info(const Ap &ap, const std::vector<uint8_t> &data)
{
	std::string path(data.begin(), data.end());
	struct stat st;
	// Only the partitions this simulator laid out are MTD devices.
	if (path != "/dev/mtd" + std::to_string(kFactoryMtd) || stat((ap.device.root + path).c_str(), &st) != 0 ||
	    !S_ISREG(st.st_mode))
		return fail(ENOTTY);
	mtd_info_user info = {};
	info.type = MTD_NORFLASH;
	info.flags = MTD_CAP_NORFLASH;
	info.size = static_cast<uint32_t>(st.st_size);
	info.erasesize = 0x10000;
	info.writesize = 1;
	DriverAnswer a;
	a.data.resize(sizeof(info));
	std::memcpy(a.data.data(), &info, sizeof(info));
	return a;
}

DriverAnswer interface_request(const Ap &ap, uint32_t request, std::vector<uint8_t> ifr)
{
	ifreq r;
	std::memcpy(&r, ifr.data(), sizeof(r));
	if (request == SIOCGIFNAME) {
		const Interface *i = ap.iface_by_index(r.ifr_ifindex);
		if (!i)
			return fail(ENODEV);
		std::memset(r.ifr_name, 0, IFNAMSIZ);
		std::strncpy(r.ifr_name, i->name.c_str(), IFNAMSIZ - 1);
	} else {
		const Interface *i = ap.iface(ifname_of(ifr));
		if (!i)
			return fail(ENODEV);
		if (request == SIOCGIFHWADDR) {
			r.ifr_hwaddr.sa_family = 1; // ARPHRD_ETHER
			std::memcpy(r.ifr_hwaddr.sa_data, i->mac.data(), 6);
		} else {
			if (i->name != "br-con")
				return fail(EADDRNOTAVAIL);
			sockaddr_in sin = {};
			sin.sin_family = AF_INET;
			inet_pton(AF_INET, request == SIOCGIFADDR ? ap.device.ipv4.c_str() : ap.device.netmask.c_str(), &sin.sin_addr);
			std::memcpy(&r.ifr_addr, &sin, sizeof(sin));
		}
	}
	DriverAnswer a;
	a.ifr.resize(sizeof(r));
	std::memcpy(a.ifr.data(), &r, sizeof(r));
	return a;
}

// Deterministic key material for an (interface, station, target) triple.
void derive_key(const Ap &ap, const std::string &ifname, const uint8_t *sta, const uint8_t *target, uint8_t *out32)
{
	std::string secret = "pmk-r0:" + ap.device.name + "/" + ifname;
	uint8_t msg[12];
	std::memcpy(msg, sta, 6);
	std::memcpy(msg + 6, target, 6);
	unsigned int len = 32;
	HMAC(EVP_sha256(), secret.data(), static_cast<int>(secret.size()), msg, sizeof(msg), out32, &len);
}

bool associated(const Ap &ap, const std::string &ifname, const uint8_t *mac)
{
	auto list = ap.stations.find(ifname);
	if (list == ap.stations.end())
		return false;
	for (const Station &s : list->second)
		if (std::memcmp(s.mac.data(), mac, 6) == 0)
			return true;
	return false;
}

// The driver holds a PMK-R0 only for stations associated to the interface;
// for any other station there is nothing to derive from.
DriverAnswer pmk_derive(const Ap &ap, const std::string &ifname, std::vector<uint8_t> buf)
{
	if (buf.size() != kPmkRequest)
		return fail(EINVAL);
	if (!associated(ap, ifname, buf.data() + 7))
		return fail(ENOENT);
	uint8_t key[32];
	derive_key(ap, ifname, buf.data() + 7, buf.data() + 81, key);
	std::string r0kh = ap.device.name + ".r0kh";
	std::memcpy(buf.data() + 16, r0kh.data(), std::min<size_t>(r0kh.size(), 48));
	buf[64] = static_cast<uint8_t>(std::min<size_t>(r0kh.size(), 48));
	for (int i = 0; i < 16; i++) {
		buf[65 + static_cast<size_t>(i)] = static_cast<uint8_t>(key[i] ^ 0x5a);  // PMKR0Name
		buf[97 + static_cast<size_t>(i)] = static_cast<uint8_t>(key[i] ^ 0xa5);  // PMKR1Name
	}
	std::memcpy(buf.data() + 113, key, 32);
	const uint8_t oui[3] = {0x00, 0x0F, 0xAC};
	std::memcpy(buf.data() + 151, oui, 3);
	buf[154] = 4; // CCMP
	std::memcpy(buf.data() + 155, oui, 3);
	buf[158] = 4; // FT over 802.1X
	put_le(buf, 159, 43200, 4);
	put_le(buf, 163, 1000, 4);
	DriverAnswer a;
	a.data = std::move(buf);
	return a;
}

DriverAnswer private_request(Ap &ap, const Interface &i, const iwreq &wrq, const std::vector<uint8_t> &data)
{
	uint16_t sub = wrq.u.data.flags;
	RadioState *radio = radio_of(ap, i);
	if (!radio)
		return fail(EOPNOTSUPP);
	DriverAnswer a;
	if (sub == 0x8957 && data.size() == 7) {           // channel width
		a.data.assign(7, 0);
		a.data[1] = radio->width > 20 ? 1 : 0;
		a.data[2] = radio->width == 80 ? 1 : radio->width == 160 ? 2 : 0;
	} else if (sub == 0x0A00 && data.size() == 4) {    // extended capabilities
		a.data.assign(4, 0);
		a.data[0] = 0x07;
	} else if (sub == 0 && !data.empty()) {            // text commands
		std::string cmd(data.begin(), data.end());
		cmd = cmd.c_str();
		if (cmd.rfind("HT_EXTCHA=", 0) != 0)
			return fail(EINVAL);
		if (ap.ext_channel_fails)
			return fail(EIO);
		radio->ext_channel = std::atoi(cmd.c_str() + 10);
	} else if (sub == 0x0A01) {
		return pmk_derive(ap, i.name, data);
	} else if (sub == 0x0A02 && data.size() == kPmkRequest) {
		char mac[18];
		std::snprintf(mac, sizeof(mac), "%02x:%02x:%02x:%02x:%02x:%02x", data[7], data[8], data[9], data[10],
			      data[11], data[12]);
		ap.pmk_saved[i.name + "/" + mac] = data;
	} else {
		return fail(EINVAL);
	}
	return a;
}

DriverAnswer set_request(Ap &ap, const Interface &i, const iwreq &wrq, const std::vector<uint8_t> &data,
			 const DriverEffects &effects)
{
	uint16_t sub = wrq.u.data.flags;
	DriverAnswer a;
	if (sub == 0x8406 && data.size() == 6) {           // station delete
		auto &list = ap.stations[i.name];
		for (auto it = list.begin(); it != list.end(); ++it) {
			if (std::memcmp(it->mac.data(), data.data(), 6) == 0) {
				Mac mac = it->mac;
				list.erase(it);
				if (effects.event)
					effects.event(events::sta_leave(i.index, mac, 8));
				return a;
			}
		}
		return fail(ENOENT);
	}
	if (sub == 0x8955 && data.size() == 158) {         // one-channel scan
		if (data[0] != 0x22)
			return fail(EINVAL);
		ap.scan_requests.push_back({i.name, data[37], data[42] == 0x00, data[47]});
		if (effects.scan)
			effects.scan(i.name, data[37], data[47]);
		a.result = 1;
		return a;
	}
	return fail(EINVAL);
}

} // namespace

std::vector<uint8_t> station_table(const std::vector<Station> &stations)
{
	std::vector<uint8_t> t(kStationTable, 0);
	size_t n = std::min(stations.size(), kMaxStations);
	put_le(t, 0, n, 8);
	for (size_t k = 0; k < n; k++) {
		const Station &s = stations[k];
		size_t e = 8 + k * kStationEntry;
		t[e] = static_cast<uint8_t>(s.aid);
		std::memcpy(t.data() + e + 1, s.mac.data(), 6);
		for (int c = 0; c < 3; c++)
			t[e + 12 + static_cast<size_t>(c)] = static_cast<uint8_t>(s.rssi - c);
		put_le(t, e + 16, s.connected_time, 4);
		put_le(t, e + 20, s.rate_word, 2);
		put_le(t, e + 40, s.uplink_bytes, 8);
		put_le(t, e + 48, s.downlink_bytes, 8);
		put_le(t, e + 56, s.uplink_pkts, 8);
		put_le(t, e + 64, s.downlink_pkts, 8);
		t[e + 72] = s.cap_11k ? 1 : 0;
		t[e + 73] = s.cap_11v ? 1 : 0;
		t[e + 74] = s.cap_11r ? 1 : 0;
		put_le(t, e + 76, s.ipv4, 4);
		std::memcpy(t.data() + e + 80, s.hostname.data(), std::min<size_t>(s.hostname.size(), 32));
	}
	return t;
}

DriverAnswer answer_request(World &, Ap &ap, uint32_t request, const std::vector<uint8_t> &ifr,
			    const std::vector<uint8_t> &data, const DriverEffects &effects)
{
	if (request == MEMGETINFO)
		return mtd_info(ap, data);
	if (ifr.size() < sizeof(iwreq))
		return fail(EINVAL);
	if (request == SIOCGIFNAME || request == SIOCGIFHWADDR || request == SIOCGIFADDR || request == SIOCGIFNETMASK)
		return interface_request(ap, request, ifr);
	iwreq wrq;
	std::memcpy(&wrq, ifr.data(), sizeof(wrq));
	const Interface *i = ap.iface(ifname_of(ifr));
	if (!i || i->radio < 0)
		return fail(ENODEV);
	RadioState *radio = radio_of(ap, *i);
	DriverAnswer a;
	switch (request) {
	case SIOCGIWFREQ:
		wrq.u.freq.m = radio->channel;
		wrq.u.freq.e = 0;
		break;
	case SIOCSIWFREQ:
		radio->channel = wrq.u.freq.m;
		break;
	case SIOCGIWTXPOW:
		wrq.u.txpower.value = radio->txpower;
		wrq.u.txpower.fixed = 1;
		wrq.u.txpower.flags = IW_TXPOW_DBM;
		break;
	case SIOCSIWTXPOW:
		radio->txpower = wrq.u.txpower.value;
		break;
	case SIOCGIWESSID:
		a.data.assign(i->ssid.begin(), i->ssid.end());
		if (a.data.size() > data.size())
			a.data.resize(data.size());
		wrq.u.essid.length = static_cast<uint16_t>(a.data.size());
		wrq.u.essid.flags = 1;
		break;
	case kPrivQuery:
		a = private_request(ap, *i, wrq, data);
		break;
	case kPrivSet:
		a = set_request(ap, *i, wrq, data, effects);
		break;
	case kPrivStations:
		if (wrq.u.data.flags != 1 || data.size() != kStationTable)
			return fail(EINVAL);
		a.data = station_table(ap.stations[i->name]);
		break;
	default:
		return fail(EOPNOTSUPP);
	}
	if (a.result < 0)
		return a;
	a.ifr.resize(sizeof(wrq));
	std::memcpy(a.ifr.data(), &wrq, sizeof(wrq));
	return a;
}

} // namespace sim
