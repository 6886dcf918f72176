// IPv4 conversions, sysfs interface attributes and VLAN discovery.
#include <zev/util.h>

#include <fsroot/fsroot.h>

#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>

#ifndef AF_MPLS
#define AF_MPLS 28
#endif

namespace {

// "." followed by a decimal VLAN id 1..4094 somewhere in a port name.
int vlan_of_port(const char *name)
{
	for (const char *dot = std::strchr(name, '.'); dot; dot = std::strchr(dot + 1, '.')) {
		char *end;
		long id = std::strtol(dot + 1, &end, 10);
		if (end != dot + 1 && id >= 1 && id <= 4094)
			return static_cast<int>(id);
	}
	return -1;
}

// The first VLAN among the symbolic links of a bridge's port directory.
int scan_ports(const char *dir)
{
	std::string path = wlc::root_path(dir);
	DIR *d = opendir(path.c_str());
	if (!d)
		return -1;
	int vlan = -1;
	while (dirent *e = readdir(d)) {
		if (e->d_name[0] == '.')
			continue;
		struct stat st;
		std::string entry = path + "/" + e->d_name;
		if (lstat(entry.c_str(), &st) != 0 || !S_ISLNK(st.st_mode))
			continue;
		if ((vlan = vlan_of_port(e->d_name)) >= 0)
			break;
	}
	closedir(d);
	return vlan;
}

} // namespace

extern "C" {

int zev_net_mask_to_prefix(uint32_t netmask)
{
	for (int i = 0; i < 32; i++) {
		uint32_t bit = 1u << (31 - i);
		if (netmask & bit)
			continue;
		uint32_t lower = bit - 1;
		return (netmask & lower) ? -1 : i;
	}
	return 32;
}

int zev_net_str_to_addr(const char *text, uint32_t *addr)
{
	in_addr a;
	if (!text || !addr || inet_pton(AF_INET, text, &a) != 1)
		return -1;
	*addr = ntohl(a.s_addr);
	return 0;
}

int zev_net_ipv4_to_str(uint32_t addr, char *buf)
{
	in_addr a;
	a.s_addr = addr;
	return buf && inet_ntop(AF_INET, &a, buf, INET_ADDRSTRLEN) ? 0 : -1;
}

int zev_net_max_prefix_len(int family)
{
	switch (family) {
	case AF_INET: return 32;
	case AF_INET6: return 128;
	case AF_MPLS: return 20;
	default: return 0;
	}
}

int zev_net_iface_sys_param(const char *ifname, const char *attr, char *buf, size_t size)
{
	char path[64];
	if (!ifname || !attr || !buf || size == 0)
		return -1;
	std::snprintf(path, sizeof(path), "/sys/class/net/%s/%s", ifname, attr);
	FILE *f = std::fopen(wlc::root_path(path).c_str(), "re");
	if (!f)
		return -1;
	bool got = std::fgets(buf, static_cast<int>(size), f) != nullptr;
	std::fclose(f);
	if (!got || buf[0] == '\0')
		return -1;
	buf[std::strcspn(buf, "\n")] = '\0';
	return 0;
}

int zev_net_iface_brif_vlan(const char *bridge)
{
	char path[64];
	std::snprintf(path, sizeof(path), "/sys/class/net/%s/brif", bridge);
	return scan_ports(path);
}

int zev_net_iface_vlan(const char *ifname)
{
	if (const char *dot = std::strchr(ifname, '.'))
		return std::atoi(dot + 1);
	char path[128];
	std::snprintf(path, sizeof(path), "/sys/class/net/%s/brport/bridge/brif", ifname);
	return scan_ports(path);
}

} // extern "C"
