// The driver's station table and rate words.
#include "wifi_internal.h"

#include <cstdlib>
#include <cstring>

namespace zev::wifi {

namespace {

uint8_t width_of(unsigned bits)
{
	static constexpr uint8_t kWidths[4] = {20, 40, 80, 160};
	return kWidths[bits & 3];
}

void convert_entry(const uint8_t *e, zev_wifi_sta &sta)
{
	std::memcpy(sta.mac, e + 1, 6);
	for (int c = 0; c < 3; c++)
		sta.rssi[c] = static_cast<int8_t>(e[12 + c]);
	sta.connected_time = static_cast<uint32_t>(read_le(e + 16, 4));
	decode_rate_word(static_cast<uint16_t>(read_le(e + 20, 2)), sta);
	sta.uplink_bytes = read_le(e + 40, 8);
	sta.downlink_bytes = read_le(e + 48, 8);
	sta.uplink_pkts = read_le(e + 56, 8);
	sta.downlink_pkts = read_le(e + 64, 8);
	sta.caps = static_cast<uint8_t>(((e[74] & 1) ? ZEV_STA_CAP_11R : 0) | ((e[72] & 1) ? ZEV_STA_CAP_11K : 0) |
					((e[73] & 1) ? ZEV_STA_CAP_11V : 0));
	sta.ipv4 = static_cast<uint32_t>(read_le(e + 76, 4));
	std::memcpy(sta.hostname, e + 80, sizeof(sta.hostname));
	sta.hostname[sizeof(sta.hostname) - 1] = '\0';
}

} // namespace

void decode_rate_word(uint16_t word, zev_wifi_sta &sta)
{
	unsigned mode = word >> 13;
	unsigned m = word & 0x3F;
	unsigned sgi = (word >> 9) & 1;
	unsigned width = (word >> 7) & 3;
	if (mode <= 1) {
		sta.phy_mode = static_cast<uint8_t>(mode);
		sta.mcs = static_cast<uint8_t>(m);
		sta.nss = 1;
		sta.sgi = 0;
		sta.bw = 20;
	} else if (mode <= 3) {
		sta.phy_mode = static_cast<uint8_t>(mode);
		sta.mcs = static_cast<uint8_t>(m);
		sta.nss = static_cast<uint8_t>((m >> 3) + 1);
		sta.sgi = static_cast<uint8_t>(sgi);
		sta.bw = width ? 40 : 20;
	} else {
		sta.phy_mode = mode == 4 ? ZEV_PHY_VHT : ZEV_PHY_HE;
		sta.mcs = static_cast<uint8_t>(m & 15);
		sta.nss = static_cast<uint8_t>((m >> 4) + 1);
		sta.sgi = mode == 4 ? static_cast<uint8_t>(sgi) : 0;
		sta.bw = width_of(width);
	}
}

zev_wifi_sta_list *parse_station_table(const uint8_t *table, size_t len)
{
	if (len < 8)
		return nullptr;
	uint64_t count = read_le(table, 8);
	uint64_t room = (len - 8) / kStationEntry;
	if (count > kMaxStations)
		count = kMaxStations;
	if (count > room)
		count = room;
	auto *list = static_cast<zev_wifi_sta_list *>(std::calloc(1, sizeof(zev_wifi_sta_list) + count * sizeof(zev_wifi_sta)));
	if (!list)
		return nullptr;
	list->count = count;
	for (uint64_t i = 0; i < count; i++)
		convert_entry(table + 8 + i * kStationEntry, list->sta[i]);
	return list;
}

void build_scan_request(const char *ifname, const zev_wifi_scan_req &req, uint8_t out[kScanRequest])
{
	std::memset(out, 0, kScanRequest);
	out[0] = 0x22;
	std::strncpy(reinterpret_cast<char *>(out + 1), ifname, 32);
	out[37] = static_cast<uint8_t>(req.channel);
	out[42] = req.mode == 1 ? 0x00 : 0x80;
	out[47] = static_cast<uint8_t>(req.duration < 0 ? 0 : req.duration > 255 ? 255 : req.duration);
	out[53] = 1;
}

} // namespace zev::wifi
