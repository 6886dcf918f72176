// The interfaces of the managed radio, as the driver lists them, and the
// radio report built from them.
#pragma once

#include <zev/wifi.h>

#include <string>
#include <vector>

#include "common/codec.h"

namespace rrm {

// The interfaces of a radio whose link is up, in the driver's order.
[[nodiscard]] std::vector<zev_wifi_iface> up_interfaces(int radio);

// The first interface's channel and power, every interface's BSSID and stations.
[[nodiscard]] RadioReport build_radio_report(int radio);

} // namespace rrm
