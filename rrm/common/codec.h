// The three RRM reports (channel statistics, BSS list, radio report) as
// records, and their blobmsg encodings: the agent encodes them for the
// controller, which decodes them and encodes them again for its files and
// listings.
#pragma once

#include <wlc/blob.h>
#include <zev/wifi.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace rrm {

using Mac = std::array<uint8_t, 6>;

inline constexpr int unknown_power = -127;
inline constexpr size_t max_channel_records = 32;
inline constexpr size_t max_bss_entries = 256;
inline constexpr size_t max_radio_bssids = 16;
inline constexpr size_t max_stations = 256;
// Entries heard more weakly than this are not worth keeping.
inline constexpr int weakest_rssi = -85;

using ChannelList = std::vector<zev_wifi_chan_stats>;
using BssList = std::vector<zev_wifi_bss>;

struct RadioReport {
	int channel = 0;             // 0: unknown
	int power = unknown_power;   // dBm
	std::vector<zev_wifi_sta> stations;
	std::vector<Mac> bssids;
};

// "aa:bb:cc:dd:ee:ff" (lower case); parsing takes either case.
[[nodiscard]] std::string mac_text(const uint8_t mac[6]);
[[nodiscard]] std::optional<Mac> parse_mac(std::string_view text);
[[nodiscard]] bool mac_is_zero(const uint8_t mac[6]);

// One element of a report's array from its plain values: the members, their
// order and which are left out, for every encoder of reports. Numbers go out
// as their low 16 bits; the time whole.
struct ChannelEntry {
	uint32_t type, channel, interval, busy, rx, tx, obss, non_wifi, false_cca;
};
struct BssEntry {
	uint32_t channel;
	std::string_view ssid, bssid;
	int rssi;
	uint32_t bw, util, sta;
	bool qbss;
};
struct StationEntry {
	std::string_view mac;
	uint32_t phy, mcs, bw;
	int rssi;
	uint32_t time;
};
void encode_entry(wlc::BlobBuf &buf, const ChannelEntry &e);
void encode_entry(wlc::BlobBuf &buf, const BssEntry &e);
void encode_entry(wlc::BlobBuf &buf, const StationEntry &e);

// Encoders append their members to the table open in buf.
void encode_channels(wlc::BlobBuf &buf, const ChannelList &list);
void encode_bss(wlc::BlobBuf &buf, const BssList &list);
void encode_radio(wlc::BlobBuf &buf, const RadioReport &report);

// Decoders read the fields of a table (or of a message); nullopt when the
// message is not a report of that kind.
[[nodiscard]] std::optional<ChannelList> decode_channels(const blob_attr *table);
[[nodiscard]] std::optional<BssList> decode_bss(const blob_attr *table);
[[nodiscard]] std::optional<RadioReport> decode_radio(const blob_attr *table);

// A station's signal: the mean of its non-zero chains, truncated toward zero.
[[nodiscard]] int station_rssi(const zev_wifi_sta &sta);

} // namespace rrm
