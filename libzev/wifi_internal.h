// Shared pieces of the Wi-Fi driver functions: request helpers and the
// rate-word decoder.
#pragma once

#include <zev/wifi.h>

#include <cstddef>
#include <cstdint>

namespace zev::wifi {

constexpr unsigned long kPrivSet = 0x8BE1;     // SIOCIWFIRSTPRIV + 0x01
constexpr unsigned long kPrivQuery = 0x8BEE;   // SIOCIWFIRSTPRIV + 0x0E
constexpr unsigned long kPrivStations = 0x8BFF; // SIOCIWFIRSTPRIV + 0x1F

constexpr size_t kStationTable = 60936;
constexpr size_t kStationEntry = 112;
constexpr size_t kMaxStations = 544;
constexpr size_t kScanRequest = 158;
constexpr size_t kPmkRequest = 167;

// Little-endian fields of driver buffers (requests, station tables, events).
inline uint64_t read_le(const uint8_t *p, int bytes)
{
	uint64_t v = 0;
	for (int i = bytes - 1; i >= 0; i--)
		v = (v << 8) | p[i];
	return v;
}

inline void write_le(uint8_t *p, uint64_t v, int bytes)
{
	for (int i = 0; i < bytes; i++)
		p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// A private request carrying a buffer: flags is the sub-command.
int private_request(const char *ifname, unsigned long req, uint16_t flags, void *buf, uint16_t len);

// Fills the PHY fields of a station from the driver's 16-bit rate word.
void decode_rate_word(uint16_t word, zev_wifi_sta &sta);

// Converts the driver's station table into the caller's list (null on failure).
zev_wifi_sta_list *parse_station_table(const uint8_t *table, size_t len);

void build_scan_request(const char *ifname, const zev_wifi_scan_req &req, uint8_t out[kScanRequest]);

} // namespace zev::wifi
