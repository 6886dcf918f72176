// "arp" (the kernel's neighbour table on VLAN bridges) and "dhcp_leases"
// (the leases of the local DHCP servers, one file per VLAN).
#include "net_stats.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>
#include <zev/util.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cinttypes>
#include <cstring>
#include <dirent.h>
#include <sstream>

#include "text.h"

namespace vigil {

namespace {

constexpr size_t kLeaseMacWidth = 17;
constexpr size_t kLeaseHostnameWidth = 63;

struct FileClose {
	void operator()(FILE *f) const noexcept { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileClose>;

struct DirClose {
	void operator()(DIR *d) const noexcept { closedir(d); }
};

void add_arp_entry(const std::string &line, wlc::BlobBuf &reply)
{
	char ip[16], mac[18], mask[4], dev[24];
	int hwtype, flags;
	if (std::sscanf(line.c_str(), "%15s %i %i %17s %3s %23s", ip, &hwtype, &flags, mac, mask, dev) != 6)
		return;
	int vlan = zev_net_iface_brif_vlan(dev);
	if (vlan <= 0)
		return;
	auto entry = reply.table();
	reply.add("ip", ip);
	reply.add("mac", mac);
	reply.add("ifname", "vlan" + std::to_string(vlan));
	auto f = reply.table("flags");
	reply.add_bool("completed", flags & 0x2);
	reply.add_bool("static", flags & 0x4);
}

bool valid_ipv4(const char *text)
{
	in_addr a;
	return inet_pton(AF_INET, text, &a) == 1;
}

// One lease file: IPv4 leases only.
void add_leases(const std::string &file, int vlan, wlc::BlobBuf &reply)
{
	FilePtr f(std::fopen(wlc::root_path("/var/" + file).c_str(), "re"));
	if (f)
		read_lease_file(f.get(), vlan, reply);
}

} // namespace

void read_lease_file(FILE *f, int vlan, wlc::BlobBuf &reply)
{
	auto list = reply.array(std::to_string(vlan).c_str());
	std::string line;
	while (read_line(f, line)) {
		std::istringstream in(line);
		std::string expire, mac, ip, host;
		// DHCPv6 leases (an IAID and an IPv6 address) share the file: IPv4 ones only.
		if (!(in >> expire >> mac >> ip >> host) || expire.find_first_not_of("0123456789") != std::string::npos ||
		    expire.size() > 19 || !valid_ipv4(ip.c_str()))
			continue;
		// Each field is reported in at most its width; a longer one is cut.
		auto lease = reply.table();
		reply.add_u64("expire", std::stoull(expire));
		reply.add("mac", mac.substr(0, kLeaseMacWidth));
		reply.add("ip", ip);
		reply.add("hostname", host.substr(0, kLeaseHostnameWidth));
	}
}

bool read_arp(FILE *f, wlc::BlobBuf &reply)
{
	std::string line;
	if (!read_line(f, line))
		return false;
	auto entries = reply.array("entries");
	while (read_line(f, line))
		add_arp_entry(line, reply);
	return true;
}

int arp_method(wlc::Request &req)
{
	FilePtr f(std::fopen(wlc::root_path("/proc/net/arp").c_str(), "re"));
	if (!f) {
		wlc::logf(LOG_DEBUG, "FAILED %s", std::strerror(errno));
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	wlc::BlobBuf reply;
	if (!read_arp(f.get(), reply))
		return UBUS_STATUS_UNKNOWN_ERROR;
	req.reply(reply);
	return UBUS_STATUS_OK;
}

int dhcp_leases_method(wlc::Request &req)
{
	std::unique_ptr<DIR, DirClose> dir(opendir(wlc::root_path("/var").c_str()));
	if (!dir)
		return UBUS_STATUS_UNKNOWN_ERROR;
	wlc::BlobBuf reply;
	while (dirent *e = readdir(dir.get())) {
		int vlan;
		char rest[32];
		if (std::sscanf(e->d_name, "dnsmasq_vlan%d.%31s", &vlan, rest) == 2 &&
		    std::strcmp(rest, "dhcp.leases") == 0)
			add_leases(e->d_name, vlan, reply);
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace vigil
