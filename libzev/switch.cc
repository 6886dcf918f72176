// Ethernet switch port statistics, link and VLAN through libswconfig.
#include <zev/util.h>

#include <wlc/c/swlib.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

switch_dev *device = nullptr;

// Reads a port attribute; false when the device, attribute or value is missing.
bool read_port(int port, const char *name, switch_val &val)
{
	if (!device)
		return false;
	switch_attr *attr = swlib_lookup_attr(device, SWLIB_ATTR_GROUP_PORT, name);
	if (!attr)
		return false;
	std::memset(&val, 0, sizeof(val));
	val.port_vlan = port;
	return swlib_get_attr(device, attr, &val) == 0;
}

} // namespace

extern "C" {

int zev_switch_load_dev(void)
{
	zev_switch_free();
	device = swlib_connect(nullptr);
	if (!device)
		return -1;
	return swlib_scan(device);
}

void zev_switch_free(void)
{
	if (device)
		swlib_free_all(device);
	device = nullptr;
}

int zev_switch_port_stat(int port, const char *counter, uint64_t *value)
{
	switch_val val;
	if (!counter || !value || !read_port(port, "mib", val))
		return -1;
	int ret = -1;
	if (val.value.s) {
		if (const char *at = std::strstr(val.value.s, counter)) {
			at += std::strlen(counter);
			at += std::strspn(at, " :");
			unsigned long v;
			if (std::sscanf(at, "%lu", &v) == 1) {
				*value = v;
				ret = 0;
			}
		}
		std::free(val.value.s);
	}
	return ret;
}

int zev_switch_port_link(int port, struct zev_switch_port_link *link)
{
	switch_val val;
	if (!link || !read_port(port, "link", val) || !val.value.link)
		return -1;
	link->link = val.value.link->link != 0;
	link->duplex = val.value.link->duplex != 0;
	link->aneg = val.value.link->aneg != 0;
	link->tx_flow = val.value.link->tx_flow != 0;
	link->rx_flow = val.value.link->rx_flow != 0;
	link->speed = static_cast<uint32_t>(val.value.link->speed);
	return 0;
}

int zev_switch_port_vid(int port, int *vid)
{
	switch_val val;
	if (!vid || !read_port(port, "pvid", val))
		return -1;
	*vid = val.value.i;
	return 0;
}

} // extern "C"
