// The driver's events: custom wireless events in route-netlink link messages.
#include <zev/wifi.h>

#include "driver/seam.h"
#include "wifi_internal.h"

#include <cstring>
#include <memory>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr size_t kDatagram = 2048;
constexpr size_t kNlHeader = 16;
constexpr size_t kIfInfo = 16;
constexpr uint16_t kRtmNewLink = 16;
constexpr uint16_t kIflaWireless = 11;
constexpr uint16_t kIwevCustom = 0x8C02;
constexpr uint16_t kChanStats = 0x0955;
constexpr uint16_t kBss = 0x0A03;
constexpr uint16_t kStation = 0x0647;

uint32_t le(const uint8_t *p, int bytes)
{
	return static_cast<uint32_t>(zev::wifi::read_le(p, bytes));
}

size_t align4(size_t n)
{
	return (n + 3) & ~size_t(3);
}

// The interface name for an index, asked of the network driver.
void name_of(int index, char name[IFNAMSIZ])
{
	name[0] = '\0';
	int sock = zev::seam::request_socket();
	if (sock < 0)
		return;
	ifreq ifr = {};
	ifr.ifr_ifindex = index;
	if (zev::seam::request(sock, SIOCGIFNAME, &ifr) >= 0)
		std::memcpy(name, ifr.ifr_name, IFNAMSIZ);
	name[IFNAMSIZ - 1] = '\0';
	close(sock);
}

void chan_stats(const char *ifname, const uint8_t *p, const zev_wifi_event_cb &cb)
{
	zev_wifi_chan_stats s = {};
	uint32_t n = le(p + 64, 2);
	uint32_t tx = le(p + 47, 4);
	s.type = tx != 0 ? 1 : 0;
	s.interval = n;
	s.channel = p[37];
	if (n) {
		s.rx_time = le(p + 43, 4) / n;
		s.tx_time = tx / n;
		s.obss_time = le(p + 51, 4) / n;
		s.non_wifi_time = le(p + 55, 4) / n;
		s.busy_time = le(p + 59, 4) / n;
		s.false_cca = le(p + 66, 4) / n;
	}
	cb.on_chan_stats(ifname, &s, cb.user_data);
}

void bss(const char *ifname, const uint8_t *p, const zev_wifi_event_cb &cb)
{
	auto list = std::make_unique<zev_wifi_bss_list>();
	std::memset(list.get(), 0, sizeof(*list));
	list->count = 1;
	zev_wifi_bss &b = list->bss[0];
	std::memcpy(b.ssid, p + 37, 32);
	b.ssid[32] = '\0';
	b.rssi = static_cast<int8_t>(p[70]);
	std::memcpy(b.bssid, p + 71, 6);
	b.channel = p[77];
	b.bw = le(p + 78, 2);
	b.beacon_period = le(p + 80, 2);
	b.dtim_count = p[82];
	b.dtim_period = p[83];
	if (p[84]) {
		b.qbss = 1;
		b.ch_util = static_cast<uint8_t>(p[85] * 100 / 256);
		b.sta_num = le(p + 86, 2);
		b.avail_admission_cap = le(p + 88, 2) * 32;
	}
	cb.on_bss(ifname, list.get(), cb.user_data);
}

void station(const uint8_t *p, const zev_wifi_event_cb &cb)
{
	char ifname[IFNAMSIZ];
	if (p[1] == 8 && cb.on_sta_join) {
		name_of(static_cast<int>(le(p + 2, 4)), ifname);
		zev_wifi_sta_join j = {};
		std::memcpy(j.mac, p + 6, 6);
		j.aid = static_cast<uint16_t>(le(p + 12, 2));
		j.flags = le(p + 14, 4);
		j.rssi = static_cast<int8_t>(p[25]);
		j.moved = p[90] ? 1 : 0;
		cb.on_sta_join(ifname, &j, cb.user_data);
	} else if (p[1] == 9 && cb.on_sta_leave) {
		name_of(static_cast<int>(le(p + 2, 4)), ifname);
		zev_wifi_sta_leave l = {};
		std::memcpy(l.mac, p + 6, 6);
		l.reason = static_cast<uint16_t>(le(p + 88, 2));
		cb.on_sta_leave(ifname, &l, cb.user_data);
	}
}

// Payloads are copied into a buffer large enough for every field read, zero
// beyond what the driver sent.
constexpr size_t kPayloadRoom = 128;

void dispatch(int ifindex, uint16_t id, const uint8_t *payload, size_t len, const zev_wifi_event_cb &cb)
{
	std::unique_ptr<uint8_t[]> copy(new (std::nothrow) uint8_t[std::max(len + 1, kPayloadRoom)]());
	if (!copy)
		return;
	std::memcpy(copy.get(), payload, len);
	if (id == kStation) {
		station(copy.get(), cb);
		return;
	}
	if ((id == kChanStats && cb.on_chan_stats) || (id == kBss && cb.on_bss)) {
		char ifname[IFNAMSIZ];
		name_of(ifindex, ifname);
		if (id == kChanStats)
			chan_stats(ifname, copy.get(), cb);
		else
			bss(ifname, copy.get(), cb);
	}
}

void walk_wireless(int ifindex, const uint8_t *attr, size_t len, const zev_wifi_event_cb &cb)
{
	size_t pos = 0;
	while (pos + 4 <= len) {
		size_t ev_len = le(attr + pos, 2);
		uint16_t cmd = static_cast<uint16_t>(le(attr + pos + 2, 2));
		if (ev_len < 9 || pos + ev_len > len)
			return;
		if (cmd == kIwevCustom) {
			if (ev_len < 16)
				return;
			size_t payload_len = le(attr + pos + 8, 2);
			uint16_t id = static_cast<uint16_t>(le(attr + pos + 10, 2));
			if (pos + 16 + payload_len > len)
				return;
			dispatch(ifindex, id, attr + pos + 16, payload_len, cb);
		}
		pos += ev_len;
	}
}

void walk_link(const uint8_t *msg, size_t len, const zev_wifi_event_cb &cb)
{
	int ifindex = static_cast<int>(le(msg + kNlHeader + 4, 4));
	size_t pos = kNlHeader + kIfInfo;
	while (pos + 4 <= len) {
		size_t attr_len = le(msg + pos, 2);
		uint16_t type = static_cast<uint16_t>(le(msg + pos + 2, 2));
		if (attr_len < 4 || pos + attr_len > len)
			return;
		if (type == kIflaWireless)
			walk_wireless(ifindex, msg + pos + 4, attr_len - 4, cb);
		pos += align4(attr_len);
	}
}

} // namespace

extern "C" {

int zev_wifi_subscribe(void)
{
	return zev::seam::event_socket();
}

int zev_wifi_unsubscribe(int fd)
{
	return fd < 0 ? fd : close(fd);
}

int zev_wifi_event_process(int fd, const zev_wifi_event_cb *cb)
{
	uint8_t buf[kDatagram];
	ssize_t n = recv(fd, buf, sizeof(buf), MSG_DONTWAIT);
	if (n < 0)
		return static_cast<int>(n);
	size_t rem = static_cast<size_t>(n);
	const uint8_t *msg = buf;
	while (rem >= kNlHeader) {
		size_t len = le(msg, 4);
		if (len < kNlHeader || len > rem)
			break;
		if (le(msg + 4, 2) == kRtmNewLink && len >= kNlHeader + kIfInfo && cb)
			walk_link(msg, len, *cb);
		size_t step = std::min(align4(len), rem);
		msg += step;
		rem -= step;
	}
	return static_cast<int>(rem);
}

} // extern "C"
