// Wi-Fi driver requests: interface, channel, width, power, stations, scan, keys.
#include "wifi_internal.h"

#include "driver/seam.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <net/if.h>
#include <linux/wireless.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace zev::wifi {

namespace {

// One request on a socket opened for it; -1 when the socket cannot be opened.
template <typename Req>
int simple_request(unsigned long req, Req &r)
{
	int sock = seam::request_socket();
	if (sock < 0)
		return -1;
	int ret = seam::request(sock, req, &r);
	close(sock);
	return ret;
}

iwreq named_iwreq(const char *ifname)
{
	iwreq wrq = {};
	std::strncpy(wrq.ifr_name, ifname, IFNAMSIZ);
	return wrq;
}

int freq_query(const char *ifname, int64_t &value)
{
	iwreq wrq = named_iwreq(ifname);
	int ret = simple_request(SIOCGIWFREQ, wrq);
	if (ret < 0)
		return ret;
	value = wrq.u.freq.m;
	for (int e = 0; e < wrq.u.freq.e; e++)
		value *= 10;
	return 0;
}

constexpr uint8_t kOui[3] = {0x00, 0x0F, 0xAC};

void record_to_request(const zev_wifi_pmk_r1 &pmk, uint8_t *buf)
{
	uint8_t kh_len = pmk.pmk_r0_kh_id_len > 48 ? 48 : pmk.pmk_r0_kh_id_len;
	std::memcpy(buf + 16, pmk.pmk_r0_kh_id, kh_len);
	buf[64] = kh_len;
	std::memcpy(buf + 65, pmk.pmk_r0_id, 16);
	std::memcpy(buf + 97, pmk.pmk_r1_id, 16);
	std::memcpy(buf + 113, pmk.pmk_r1_key, 32);
	std::memcpy(buf + 151, kOui, 3);
	buf[154] = pmk.cipher;
	std::memcpy(buf + 155, kOui, 3);
	buf[158] = pmk.akm;
	write_le(buf + 159, pmk.lifetime, 4);
	write_le(buf + 163, pmk.reassoc_timeout, 4);
}

void request_to_record(const uint8_t *buf, zev_wifi_pmk_r1 &pmk)
{
	pmk.pmk_r0_kh_id_len = buf[64] > 48 ? 48 : buf[64];
	std::memcpy(pmk.pmk_r0_kh_id, buf + 16, pmk.pmk_r0_kh_id_len);
	std::memcpy(pmk.pmk_r0_id, buf + 65, 16);
	std::memcpy(pmk.pmk_r1_id, buf + 97, 16);
	std::memcpy(pmk.pmk_r1_key, buf + 113, 32);
	pmk.cipher = buf[154];
	pmk.akm = buf[158];
	pmk.lifetime = static_cast<uint32_t>(read_le(buf + 159, 4));
	pmk.reassoc_timeout = static_cast<uint32_t>(read_le(buf + 163, 4));
}

} // namespace

int private_request(const char *ifname, unsigned long req, uint16_t flags, void *buf, uint16_t len)
{
	iwreq wrq = named_iwreq(ifname);
	wrq.u.data.pointer = buf;
	wrq.u.data.length = len;
	wrq.u.data.flags = flags;
	return simple_request(req, wrq);
}

} // namespace zev::wifi

using namespace zev::wifi;

extern "C" {

zev_wifi_sta_list *zev_wifi_iface_stations(const char *ifname)
{
	std::unique_ptr<uint8_t[]> table(new (std::nothrow) uint8_t[kStationTable]());
	if (!table || private_request(ifname, kPrivStations, 1, table.get(), kStationTable) < 0)
		return nullptr;
	return parse_station_table(table.get(), kStationTable);
}

int zev_wifi_iface_bssid(const char *ifname, uint8_t bssid[6])
{
	ifreq ifr = {};
	std::strncpy(ifr.ifr_name, ifname, IFNAMSIZ - 1);
	int ret = simple_request(SIOCGIFHWADDR, ifr);
	if (ret >= 0)
		std::memcpy(bssid, ifr.ifr_hwaddr.sa_data, 6);
	return ret;
}

int zev_wifi_iface_essid(const char *ifname, char *buf, size_t len)
{
	iwreq wrq = named_iwreq(ifname);
	wrq.u.essid.pointer = buf;
	wrq.u.essid.length = static_cast<uint16_t>(len > 0xFFFF ? 0xFFFF : len);
	wrq.u.essid.flags = 0;
	return simple_request(SIOCGIWESSID, wrq);
}

int zev_wifi_iface_ext_cap(const char *ifname, uint8_t *caps)
{
	uint8_t answer[4] = {};
	int ret = private_request(ifname, kPrivQuery, 0x0A00, answer, sizeof(answer));
	if (ret >= 0)
		*caps = static_cast<uint8_t>((*caps & ~0x07) | (answer[0] & 0x07));
	return ret;
}

int64_t __radio_freq_hz(const char *ifname)
{
	int64_t v;
	return freq_query(ifname, v) < 0 ? -1 : v;
}

int zev_wifi_iface_channel(const char *ifname)
{
	int64_t v;
	return freq_query(ifname, v) < 0 ? -1 : static_cast<int>(v);
}

int zev_wifi_iface_chbw(const char *ifname)
{
	uint8_t answer[7] = {};
	if (private_request(ifname, kPrivQuery, 0x8957, answer, sizeof(answer)) < 0)
		return -1;
	if (answer[1] == 0)
		return 20;
	switch (answer[2]) {
	case 0: return 40;
	case 1: return 80;
	case 2: return 160;
	default: return 161;
	}
}

int zev_wifi_iface_channel_set(const char *ifname, int channel)
{
	iwreq wrq = named_iwreq(ifname);
	wrq.u.freq.m = channel;
	wrq.u.freq.e = 0;
	wrq.u.freq.i = 0;
	wrq.u.freq.flags = 0;
	return simple_request(SIOCSIWFREQ, wrq);
}

int zev_wifi_iface_channel_ext_set(const char *ifname, uint8_t selector)
{
	char text[32];
	int len = std::snprintf(text, sizeof(text), "HT_EXTCHA=%d", selector);
	return private_request(ifname, kPrivQuery, 0, text, static_cast<uint16_t>(len + 1));
}

int zev_wifi_iface_tx_power_dbm(const char *ifname, int *dbm)
{
	iwreq wrq = named_iwreq(ifname);
	int ret = simple_request(SIOCGIWTXPOW, wrq);
	if (ret >= 0 && dbm)
		*dbm = wrq.u.txpower.value;
	return ret;
}

int zev_wifi_iface_tx_power_dbm_set(const char *ifname, int dbm)
{
	iwreq wrq = named_iwreq(ifname);
	wrq.u.txpower.value = dbm;
	wrq.u.txpower.fixed = 0;
	wrq.u.txpower.disabled = 0;
	wrq.u.txpower.flags = 0;
	return simple_request(SIOCSIWTXPOW, wrq);
}

int zev_wifi_iface_sta_del(const char *ifname, const uint8_t mac[6])
{
	uint8_t buf[6];
	std::memcpy(buf, mac, sizeof(buf));
	return private_request(ifname, kPrivSet, 0x8406, buf, sizeof(buf));
}

int zev_wifi_iface_scan_req(const char *ifname, const zev_wifi_scan_req *req)
{
	uint8_t buf[kScanRequest];
	build_scan_request(ifname, *req, buf);
	return private_request(ifname, kPrivSet, 0x8955, buf, sizeof(buf)) == 1 ? 0 : -1;
}

int zev_wifi_iface_sta_pmk_derive(const char *ifname, const uint8_t sta[6], const uint8_t bssid[6],
				  zev_wifi_pmk_r1 *pmk)
{
	uint8_t buf[kPmkRequest] = {};
	std::memcpy(buf + 7, sta, 6);
	std::memcpy(buf + 81, bssid, 6);
	int ret = private_request(ifname, kPrivQuery, 0x0A01, buf, sizeof(buf));
	std::memset(pmk, 0, sizeof(*pmk));
	if (ret < 0)
		return ret;
	request_to_record(buf, *pmk);
	return 0;
}

int zev_wifi_iface_sta_pmk_save(const char *ifname, const uint8_t sta[6], const zev_wifi_pmk_r1 *pmk)
{
	uint8_t buf[kPmkRequest] = {};
	std::memcpy(buf + 7, sta, 6);
	record_to_request(*pmk, buf);
	return private_request(ifname, kPrivQuery, 0x0A02, buf, sizeof(buf));
}

} // extern "C"
