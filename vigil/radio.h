// The Wi-Fi side: "radio" (radios, their WLANs and stations),
// "wireless_clients" and the station and BSS tables they share with scans.
#pragma once

#include <wlc/bus.h>
#include <zev/wifi.h>

#include <array>
#include <cstdint>
#include <string>

#include "options.h"

namespace vigil {

using MacBytes = std::array<uint8_t, 6>;

std::string mac_text(const uint8_t *mac);
// The radio's MAC: the base plus (index - 1), taken as an unsigned 32-bit
// number, over the six bytes as one 48-bit big-endian number (a carry out
// of the first byte is dropped). Radio 1 has the base itself.
MacBytes radio_mac(const MacBytes &base, unsigned int radio);

void add_station(const zev_wifi_sta &sta, const char *bssid, wlc::BlobBuf &reply);
void add_survey(const zev_wifi_chan_stats &s, wlc::BlobBuf &reply);
void add_bss(const zev_wifi_bss &b, wlc::BlobBuf &reply);

int radio_method(const WlanMap &wlans, wlc::Request &req);
int wireless_clients_method(wlc::Request &req);

} // namespace vigil
