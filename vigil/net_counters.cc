// Interface counters from /proc/net/dev and sysfs, and the walk over the
// platform's logical interface objects.
#include "net_stats.h"

#include <fsroot/fsroot.h>

#include <cinttypes>
#include <cstdio>

#include "text.h"

namespace vigil {

namespace {

bool read_sysfs_counter(const std::string &ifname, const char *name, uint64_t &value)
{
	std::string path = "/sys/class/net/" + ifname + "/statistics/" + name;
	FILE *f = std::fopen(wlc::root_path(path).c_str(), "re");
	if (!f)
		return false;
	bool ok = std::fscanf(f, "%" SCNu64, &value) == 1;
	std::fclose(f);
	return ok;
}

// " name: 16 counters"; the name is bounded so no line can overrun it.
bool parse_dev_line(const std::string &line, std::string &name, IfaceCounters &c)
{
	char ifname[64];
	uint64_t v[16];
	int n = std::sscanf(line.c_str(),
			    " %63[^:]: %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64
			    " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64 " %" SCNu64
			    " %" SCNu64 " %" SCNu64,
			    ifname, &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11],
			    &v[12], &v[13], &v[14], &v[15]);
	if (n != 17)
		return false;
	name = ifname;
	for (int i = 0; i < 8; i++) {
		c.rx[i] = v[i];
		c.tx[i] = v[8 + i];
	}
	return true;
}

// The sysfs error counters; only the last one is required to be there.
bool add_sysfs_counters(const std::string &name, IfaceCounters &c)
{
	read_sysfs_counter(name, "rx_crc_errors", c.rx[8]);
	read_sysfs_counter(name, "rx_over_errors", c.rx[9]);
	read_sysfs_counter(name, "rx_missed_errors", c.rx[10]);
	read_sysfs_counter(name, "rx_length_errors", c.rx[11]);
	read_sysfs_counter(name, "tx_aborted_errors", c.tx[8]);
	read_sysfs_counter(name, "tx_heartbeat_errors", c.tx[9]);
	return read_sysfs_counter(name, "tx_window_errors", c.tx[10]);
}

void collect_object(ubus_context *, ubus_object_data *obj, void *priv) noexcept
{
	try {
		if (obj && obj->path)
			static_cast<std::vector<std::string> *>(priv)->push_back(obj->path);
	} catch (...) {
		// An object that cannot be recorded is left out.
	}
}

} // namespace

std::optional<IfaceCounterMap> read_iface_counters()
{
	FILE *f = std::fopen(wlc::root_path("/proc/net/dev").c_str(), "re");
	if (!f)
		return std::nullopt;
	std::optional<IfaceCounterMap> map = read_iface_counters(f);
	std::fclose(f);
	return map;
}

std::optional<IfaceCounterMap> read_iface_counters(FILE *f)
{
	IfaceCounterMap map;
	std::string line;
	bool ok = true;
	for (int skip = 0; skip < 2 && read_line(f, line); skip++) {
	}
	while (ok && read_line(f, line)) {
		std::string name;
		IfaceCounters c;
		ok = parse_dev_line(line, name, c) && add_sysfs_counters(name, c);
		if (ok)
			map[name] = c;
	}
	ok = ok && !std::ferror(f);
	return ok ? std::optional<IfaceCounterMap>(std::move(map)) : std::nullopt;
}

std::optional<std::vector<std::string>> interface_objects(wlc::Bus &bus)
{
	std::vector<std::string> paths;
	if (!bus.connected() || ubus_lookup(bus.ctx(), "network.interface.*", collect_object, &paths) != 0)
		return std::nullopt;
	return paths;
}

} // namespace vigil
