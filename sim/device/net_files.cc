// Writing the IP side of a simulated device.
#include "net_files.h"

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace sim {

namespace {

void write_file(const std::string &path, const std::string &text)
{
	fs::create_directories(fs::path(path).parent_path());
	std::ofstream out(path, std::ios::trunc);
	out << text;
	if (!out)
		throw std::runtime_error("cannot write " + path);
}

std::string proc_net_dev(const std::vector<Interface> &ifaces)
{
	std::string out = "Inter-|   Receive                                                |  Transmit\n"
			  " face |bytes    packets errs drop fifo frame compressed multicast|bytes    packets errs "
			  "drop fifo colls carrier compressed\n";
	for (const Interface &ifc : ifaces) {
		char name[32];
		std::snprintf(name, sizeof(name), "%6s:", ifc.name.c_str());
		out += name;
		for (int k = 0; k < 8; k++)
			out += " " + std::to_string(rx_counter(ifc, k));
		for (int k = 0; k < 8; k++)
			out += " " + std::to_string(tx_counter(ifc, k));
		out += "\n";
	}
	return out;
}

// Neighbours on the management bridge and a VLAN bridge, one incomplete,
// one static, and one on a bridge that carries no VLAN.
std::string proc_net_arp(const DeviceSpec &dev)
{
	std::string vlan_bridge = dev.vlans.empty() ? "br-con" : "br-vlan" + std::to_string(dev.vlans.front());
	return "IP address       HW type     Flags       HW address            Mask     Device\n"
	       "192.168.1.1      0x1         0x2         00:11:22:33:44:01     *        br-con\n"
	       "192.168.1.77     0x1         0x0         00:00:00:00:00:00     *        br-con\n"
	       "10.10.0.5        0x1         0x6         00:0a:0b:0c:0d:05     *        " + vlan_bridge + "\n"
	       "172.16.0.9       0x1         0x2         00:0a:0b:0c:0d:09     *        br-lan\n";
}

// dnsmasq's lease file of a VLAN: IPv4 leases, then DHCPv6 ones.
std::string leases(int vlan)
{
	std::string v = std::to_string(vlan);
	return "1765400000 00:0a:0b:0c:0d:05 10." + v + ".0.5 laptop-" + v + " 01:00:0a:0b:0c:0d:05\n"
	       "1765400100 aa:bb:cc:dd:ee:0" + std::to_string(vlan % 10) + " 10." + v + ".0.6 * *\n"
	       "duid 00:01:00:01:2a:2b:2c:2d:00:11:22:33:44:55\n"
	       "1765400200 1234567 fd00::" + v + ":5 phone-" + v + " 00:01:00:01:2a:2b:2c:2d:00:0a:0b:0c:0d:06\n";
}

std::string network_config(const DeviceSpec &dev)
{
	std::string out = "config interface 'loopback'\n\toption device 'lo'\n\toption proto 'static'\n"
			  "\toption ipaddr '127.0.0.1'\n\toption netmask '255.0.0.0'\n\n"
			  "config interface 'vlan5'\n\toption device 'br-con'\n\toption proto 'dhcp'\n"
			  "\toption ipaddr '" + dev.ipv4 + "'\n\toption netmask '" + dev.netmask + "'\n\n";
	for (int vlan : dev.vlans)
		out += "config interface 'vlan" + std::to_string(vlan) + "'\n\toption device 'br-vlan" +
		       std::to_string(vlan) + "'\n\toption proto 'static'\n\toption ipaddr '10." + std::to_string(vlan) +
		       ".0.1'\n\toption netmask '255.255.0.0'\n\n";
	return out + "config interface 'vlan30'\n\toption proto 'static'\n\toption ipaddr '10.30.0.1'\n"
		     "\toption netmask '255.255.255.0'\n\nconfig interface 'guest'\n\toption proto 'none'\n";
}

std::string system_config()
{
	return "config system\n\toption hostname 'ap'\n\toption timezone 'UTC'\n\n"
	       "config timeserver 'ntp'\n\toption enabled '1'\n";
}

std::string status(bool up, const std::string &proto, const std::string &device, const std::string &addr, int mask,
		   const std::string &dns, const std::string &inactive_dns = "")
{
	std::string out = "{\"up\": " + std::string(up ? "true" : "false") + ", \"proto\": \"" + proto +
			  "\", \"metric\": 0";
	if (!device.empty())
		out += ", \"device\": \"" + device + "\"";
	if (up && !device.empty())
		out += ", \"l3_device\": \"" + device + "\"";
	out += ", \"ipv4-address\": [";
	if (up && !addr.empty())
		out += "{\"address\": \"" + addr + "\", \"mask\": " + std::to_string(mask) + "}";
	out += "], \"ipv6-address\": [], \"dns-server\": [" + dns + "], \"inactive\": {\"ipv4-address\": [], "
	       "\"ipv6-address\": [], \"dns-server\": [" + inactive_dns + "]}}";
	return out;
}

std::string network_status(const DeviceSpec &dev)
{
	std::string out = "{\n\"loopback\": " + status(true, "static", "lo", "127.0.0.1", 8, "\"10.0.0.53\"") +
			  ",\n\"con\": " + status(true, "dhcp", "br-con", dev.ipv4, 24,
						  "\"192.168.1.1\", \"10.0.0.53\"", "\"9.9.9.9\"");
	for (int vlan : dev.vlans)
		out += ",\n\"vlan" + std::to_string(vlan) + "\": " +
		       status(true, "static", "br-vlan" + std::to_string(vlan), "10." + std::to_string(vlan) + ".0.1", 16,
			      "");
	out += ",\n\"vlan30\": " + status(false, "static", "", "", 0, "");
	out += ",\n\"guest\": " + status(false, "none", "", "", 0, "");
	return out + "\n}\n";
}

// Bonded channel groups of the 5 GHz band (the 2.4 GHz channels have none).
std::string channels_json()
{
	const std::vector<std::vector<int>> groups160 = {{36, 40, 44, 48, 52, 56, 60, 64},
							 {100, 104, 108, 112, 116, 120, 124, 128}};
	const std::vector<std::vector<int>> groups80 = {{132, 136, 140, 144}, {149, 153, 157, 161}};
	std::string out = "{\n";
	for (int ch = 1; ch <= 13; ch++)
		out += "\t\"" + std::to_string(ch) + "\": {},\n";
	auto others = [](const std::vector<int> &g, int ch, size_t from, size_t to) {
		std::string t;
		for (size_t i = from; i < to; i++)
			if (g[i] != ch)
				t += (t.empty() ? "" : ", ") + std::to_string(g[i]);
		return t;
	};
	auto entry = [&](const std::vector<int> &g, size_t i, bool with160) {
		size_t q = i / 4 * 4, h = i / 2 * 2;
		std::string e = "\t\"" + std::to_string(g[i]) + "\": {\"40\": [" + others(g, g[i], h, h + 2) +
				"], \"80\": [" + others(g, g[i], q, q + 4) + "]";
		if (with160)
			e += ", \"160\": [" + others(g, g[i], 0, 8) + "]";
		return e + "},\n";
	};
	for (const auto &g : groups160)
		for (size_t i = 0; i < g.size(); i++)
			out += entry(g, i, true);
	for (const auto &g : groups80)
		for (size_t i = 0; i < g.size(); i++)
			out += entry(g, i, false);
	return out + "\t\"165\": {}\n}\n";
}

} // namespace

uint64_t rx_counter(const Interface &ifc, int k)
{
	return static_cast<uint64_t>(ifc.index) * 1000 + static_cast<uint64_t>(k) + 1;
}

uint64_t tx_counter(const Interface &ifc, int k)
{
	return static_cast<uint64_t>(ifc.index) * 1000 + 100 + static_cast<uint64_t>(k) + 1;
}

void write_net_files(const DeviceSpec &dev, const std::vector<Interface> &ifaces)
{
	write_file(dev.root + "/proc/net/dev", proc_net_dev(ifaces));
	write_file(dev.root + "/proc/net/arp", proc_net_arp(dev));
	write_file(dev.root + "/var/dnsmasq_vlan5.dhcp.leases", leases(5));
	for (int vlan : dev.vlans) {
		write_file(dev.root + "/var/dnsmasq_vlan" + std::to_string(vlan) + ".dhcp.leases", leases(vlan));
		write_file(dev.root + "/var/dnsmasq_vlan" + std::to_string(vlan) + ".conf",
			   "1765400000 00:0a:0b:0c:0d:99 10.99.0.9 decoy *\n");
	}
	write_file(dev.root + "/etc/config/network", network_config(dev));
	write_file(dev.root + "/etc/config/system", system_config());
	write_file(dev.root + kNetworkStatusFile, network_status(dev));
	write_file(dev.root + "/etc/channels.json", channels_json());
}

} // namespace sim
