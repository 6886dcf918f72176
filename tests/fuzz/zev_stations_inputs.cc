// libzev's station table reader under untrusted driver replies.
#include "zev_stations_inputs.h"

#include <zev/wifi.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "wifi_internal.h"

namespace wlcfuzz {

namespace {

void read_list(zev_wifi_sta_list *list)
{
	if (!list)
		return;
	float sum = 0;
	for (uint64_t i = 0; i < list->count; i++) {
		sum += zev_wifi_sta_rate(&list->sta[i]);
		sum += static_cast<float>(std::strlen(list->sta[i].hostname));
	}
	if (std::isnan(sum))
		std::abort(); // a rate is a number of Mbit/s, never NaN
	std::free(list);
}

} // namespace

void zev_stations_one_input(const uint8_t *data, size_t size)
{
	// The station request's own buffer: the driver fills what it fills.
	std::vector<uint8_t> table(zev::wifi::kStationTable, 0);
	std::copy_n(data, std::min(size, table.size()), table.begin());
	read_list(zev::wifi::parse_station_table(table.data(), table.size()));
	// The reader's own length checks, over exactly the bytes given.
	std::vector<uint8_t> exact(data, data + size);
	read_list(zev::wifi::parse_station_table(exact.data(), exact.size()));
}

} // namespace wlcfuzz
