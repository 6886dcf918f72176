// Writing a simulated device root.
#include "device_root.h"

#include "boot_slots.h"
#include "net_files.h"
#include "proc_stat.h"

#include <openssl/evp.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace sim {

namespace {

struct FactoryItem {
	const char *name;
	size_t offset;
	size_t length;
};

// Where the factory items lie (the same table the item reader compiles in).
constexpr FactoryItem kItems[] = {
	{"wan", 0xE006, 6}, {"lan", 0xE000, 6}, {"wlan", 0x0004, 6}, {"wlan2", 0x100004, 6},
	// The radios' base MAC, as the telemetry service reads it: the first radio's address.
	{"wlan1", 0x0004, 6},
	{"sn", 0x1FFF80, 32}, {"ssid", 0x1FFFA0, 32}, {"psk", 0x1FFFC0, 32}, {"crc", 0x1FFFE0, 32},
	{"admin_login", 0x1FFF40, 32}, {"admin_password", 0x1FFF60, 32}, {"user_login", 0x1FFF00, 32},
	{"user_password", 0x1FFF20, 32}, {"pubkey", 0x1FFE80, 64}, {"prod", 0x1FFE7C, 4},
};

void write_file(const std::string &path, const std::string &text)
{
	fs::create_directories(fs::path(path).parent_path());
	std::ofstream out(path, std::ios::binary | std::ios::trunc);
	out << text;
	if (!out)
		throw std::runtime_error("cannot write " + path);
}

void put_text(std::vector<uint8_t> &img, size_t offset, size_t length, const std::string &text)
{
	std::fill(img.begin() + static_cast<long>(offset), img.begin() + static_cast<long>(offset + length), 0);
	std::memcpy(img.data() + offset, text.data(), std::min(text.size(), length));
}

void put_mac(std::vector<uint8_t> &img, size_t offset, const Mac &mac)
{
	std::memcpy(img.data() + offset, mac.data(), mac.size());
}

std::string md5_hex_without(const std::vector<uint8_t> &img, size_t skip, size_t len)
{
	EVP_MD_CTX *ctx = EVP_MD_CTX_new();
	EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
	EVP_DigestUpdate(ctx, img.data(), skip);
	EVP_DigestUpdate(ctx, img.data() + skip + len, img.size() - skip - len);
	unsigned char digest[16];
	unsigned int n = 0;
	EVP_DigestFinal_ex(ctx, digest, &n);
	EVP_MD_CTX_free(ctx);
	char hex[33];
	for (int i = 0; i < 16; i++)
		std::snprintf(hex + 2 * i, 3, "%02x", digest[i]);
	return hex;
}

std::string layout_json()
{
	std::string out = "{\n\t\"partition\": \"Factory\",\n\t\"layout\": [\n";
	for (size_t i = 0; i < std::size(kItems); i++) {
		const FactoryItem &it = kItems[i];
		char offset[32];
		// Items near the end are written the way layout files do: counted back from the end.
		if (it.offset >= kFactorySize - 0x1000)
			std::snprintf(offset, sizeof(offset), "\"0x%zx!\"", kFactorySize - it.offset);
		else
			std::snprintf(offset, sizeof(offset), "\"0x%zx\"", it.offset);
		out += "\t\t{\"name\": \"" + std::string(it.name) + "\", \"offset\": " + offset +
		       ", \"length\": " + std::to_string(it.length) + "}";
		out += i + 1 < std::size(kItems) ? ",\n" : "\n";
	}
	return out + "\t]\n}\n";
}

void replace_symlink(const std::string &target, const std::string &link)
{
	fs::remove(link);
	fs::create_symlink(target, link);
}

void write_interface(const std::string &root, const Interface &ifc)
{
	std::string dir = root + "/sys/class/net/" + ifc.name;
	write_file(dir + "/ifindex", std::to_string(ifc.index) + "\n");
	write_file(dir + "/address", mac_text(ifc.mac) + "\n");
	write_file(dir + "/mtu", ifc.name == "lo" ? "65536\n" : "1500\n");
	write_file(dir + "/operstate", ifc.name == "lo" ? "unknown\n" : "up\n");
	for (const char *counter : {"rx_bytes", "rx_packets", "rx_errors", "rx_dropped", "tx_bytes", "tx_packets",
				    "tx_errors", "tx_dropped", "rx_crc_errors", "rx_over_errors", "rx_missed_errors",
				    "rx_length_errors", "collisions", "multicast"})
		write_file(dir + "/statistics/" + counter, "0\n");
	// Error counters only sysfs has, distinct per interface and counter.
	const char *errors[] = {"rx_crc_errors", "rx_over_errors", "rx_missed_errors", "rx_length_errors",
				"tx_aborted_errors", "tx_heartbeat_errors", "tx_window_errors"};
	for (size_t k = 0; k < std::size(errors); k++)
		write_file(dir + "/statistics/" + errors[k], std::to_string(ifc.index * 1000 + 11 + (k < 4 ? k : k + 6)) + "\n");
	if (ifc.bridge.empty())
		return;
	// A port: brport/bridge points at its bridge, the bridge's brif at the port.
	fs::create_directories(dir + "/brport");
	replace_symlink("../../" + ifc.bridge, dir + "/brport/bridge");
	std::string brif = root + "/sys/class/net/" + ifc.bridge + "/brif";
	fs::create_directories(brif);
	replace_symlink("../../" + ifc.name + "/brport", brif + "/" + ifc.name);
}

void write_leds(const DeviceSpec &dev)
{
	for (const char *colour : {"red", "green", "blue"}) {
		std::string dir = dev.root + "/sys/class/leds/" + dev.model + ":" + colour + ":sys";
		write_file(dir + "/trigger", "none\n");
		write_file(dir + "/brightness", "0\n");
		write_file(dir + "/max_brightness", "255\n");
		write_file(dir + "/delay_on", "0\n");
		write_file(dir + "/delay_off", "0\n");
	}
}

void write_board_files(const DeviceSpec &dev)
{
	write_file(dev.root + "/proc/sys/kernel/hostname", dev.name + "\n");
	write_file(dev.root + "/tmp/sysinfo/board_name", dev.model + "\n");
	write_file(dev.root + "/tmp/sysinfo/model", dev.model + "\n");
	write_file(dev.root + "/etc/board.json",
		   "{\n\t\"model\": {\n\t\t\"id\": \"" + dev.model + "\",\n\t\t\"name\": \"" + dev.model + "\"\n\t}\n}\n");
	std::string radios;
	for (size_t r = 0; r < dev.radios.size(); r++) {
		radios += "\t\t\"" + std::to_string(r) + "\": {\"band\": " + std::to_string(dev.radios[r].band) +
			  ", \"ifprefix\": \"" + dev.radios[r].ifprefix + "\"}";
		radios += r + 1 < dev.radios.size() ? ",\n" : "\n";
	}
	std::string ports, named;
	for (int p = 0; p < dev.switch_ports; p++) {
		ports += (p ? ", " : "") + std::to_string(p);
		// Port 0 is the uplink; the others are the LAN ports.
		named += std::string(p ? ", " : "") + "\"" + (p ? "lan" + std::to_string(p) : std::string("wan")) +
			 "\": {\"num\": " + std::to_string(p) + "}";
	}
	write_file(dev.root + "/etc/boards/" + dev.model + ".json",
		   "{\n\t\"radios\": {\n" + radios + "\t},\n\t\"switch\": {\"ports\": [" + ports + "]},\n"
		   "\t\"ports\": {\"switch0\": {" + named + "}}\n}\n");
}

void write_release(const DeviceSpec &dev)
{
	write_file(dev.root + "/etc/openwrt_release",
		   "DISTRIB_ID='OpenWrt'\nDISTRIB_RELEASE='" + dev.release + "'\nDISTRIB_REVISION='" + dev.revision +
			   "'\nDISTRIB_TARGET='mediatek/filogic'\nDISTRIB_ARCH='aarch64_cortex-a53'\n"
			   "DISTRIB_DESCRIPTION='OpenWrt " + dev.release + " " + dev.revision +
			   "'\nDISTRIB_CODENAME='zev'\nDISTRIB_BUILDDATE='" + dev.builddate + "'\n");
}

void write_factory(const DeviceSpec &dev)
{
	auto img = factory_image(dev);
	std::string mtd = dev.root + "/dev/mtd" + std::to_string(kFactoryMtd);
	write_file(mtd, std::string(img.begin(), img.end()));
	char size[16];
	std::snprintf(size, sizeof(size), "%08zx", kFactorySize);
	write_file(dev.root + "/proc/mtd", "dev:    size   erasesize  name\n"
					   "mtd0: 00080000 00010000 \"Bootloader\"\n"
					   "mtd1: 00010000 00010000 \"Config\"\n"
					   "mtd2: 00010000 00010000 \"Env\"\n"
					   "mtd" + std::to_string(kFactoryMtd) + ": " + size + " 00010000 \"Factory\"\n"
					   "mtd4: 03c00000 00010000 \"Firmware\"\n");
	write_file(dev.root + "/sys/class/mtd/mtd" + std::to_string(kFactoryMtd) + "/size",
		   std::to_string(kFactorySize) + "\n");
	write_file(dev.root + "/etc/factory.json", layout_json());
}

// The switch as its driver reports it: MIB counters, link and PVID per port.
void write_switch(const DeviceSpec &dev)
{
	std::string dir = dev.root + "/var/lib/sim/switch";
	write_file(dir + "/ports", std::to_string(dev.switch_ports) + "\n");
	for (int p = 0; p < dev.switch_ports; p++) {
		std::string port = dir + "/port" + std::to_string(p);
		uint64_t base = 1000 * static_cast<uint64_t>(p + 1);
		write_file(port + "/mib", "Port " + std::to_string(p) + " MIB counter\n"
			   "TxDrop      : 0\nTxCRC       : 0\nTxUni       : " + std::to_string(base) +
			   "\nTxMulti     : 3\nTxBroad     : 7\nTxByte      : " + std::to_string(base * 1500) +
			   "\nRxDrop      : " + std::to_string(p) + "\nRxUni       : " + std::to_string(base * 2) +
			   "\nRxMulti     : 11\nRxBroad     : 13" +
			   "\nRxByte      : " + std::to_string(base * 3000) + "\n");
		write_file(port + "/link", p == dev.switch_ports - 1 ? "port:" + std::to_string(p) + " link:down\n"
								    : "port:" + std::to_string(p) +
									      " link:up speed:1000baseT full-duplex auto txflow rxflow\n");
		write_file(port + "/pvid", std::to_string(p == 0 ? kControlVlan : 1) + "\n");
	}
}

} // namespace

std::vector<Interface> interfaces(const DeviceSpec &dev)
{
	std::vector<Interface> out;
	int index = 1;
	auto add = [&](const std::string &name, Mac mac, const std::string &bridge) -> Interface & {
		Interface ifc;
		ifc.name = name;
		ifc.index = index++;
		ifc.mac = mac;
		ifc.bridge = bridge;
		out.push_back(ifc);
		return out.back();
	};
	add("lo", Mac{}, "");
	add("eth0", dev.lan_mac, "");
	add("eth0." + std::to_string(kControlVlan), dev.lan_mac, "br-con");
	for (int vlan : dev.vlans)
		add("eth0." + std::to_string(vlan), dev.lan_mac, "br-vlan" + std::to_string(vlan));
	add("br-con", dev.lan_mac, "");
	for (int vlan : dev.vlans)
		add("br-vlan" + std::to_string(vlan), dev.lan_mac, "");
	for (size_t r = 0; r < dev.radios.size(); r++) {
		for (size_t u = 0; u < dev.radios[r].ssids.size(); u++) {
			std::string bridge = u == 0 || dev.vlans.empty()
						     ? "br-con"
						     : "br-vlan" + std::to_string(dev.vlans[(u - 1) % dev.vlans.size()]);
			Interface &ifc = add(dev.radios[r].ifprefix + std::to_string(u), dev.bssid(r, static_cast<int>(u)), bridge);
			ifc.radio = static_cast<int>(r);
			ifc.unit = static_cast<int>(u);
			ifc.ssid = dev.radios[r].ssids[u];
		}
	}
	return out;
}

std::vector<uint8_t> factory_image(const DeviceSpec &dev)
{
	std::vector<uint8_t> img(kFactorySize, 0xFF);
	Mac wan = dev.lan_mac;
	wan[5] = static_cast<uint8_t>(wan[5] + 1);
	put_mac(img, 0xE000, dev.lan_mac);
	put_mac(img, 0xE006, wan);
	put_mac(img, 0x0004, dev.bssid(0, 0));
	put_mac(img, 0x100004, dev.bssid(1, 0));
	put_text(img, 0x1FFF80, 32, dev.serial);
	put_text(img, 0x1FFFA0, 32, dev.radios.empty() ? "wlc" : dev.radios[0].ssids.front());
	put_text(img, 0x1FFFC0, 32, "factory-psk-" + dev.serial);
	put_text(img, 0x1FFF40, 32, "admin");
	put_text(img, 0x1FFF60, 32, "admin-" + dev.serial);
	put_text(img, 0x1FFF00, 32, "user");
	put_text(img, 0x1FFF20, 32, "user-" + dev.serial);
	for (size_t i = 0; i < 64; i++)
		img[0x1FFE80 + i] = static_cast<uint8_t>(i * 7 + 1);
	const uint8_t prod[4] = {0x50, 0x52, 0x4F, 0x44};
	std::memcpy(img.data() + 0x1FFE7C, prod, sizeof(prod));
	put_text(img, 0x1FFFE0, 32, md5_hex_without(img, 0x1FFFE0, 32));
	return img;
}

void lay_out(const DeviceSpec &dev)
{
	if (dev.root.empty())
		throw std::runtime_error("device " + dev.name + " has no root");
	write_factory(dev);
	write_board_files(dev);
	write_release(dev);
	std::vector<Interface> ifaces = interfaces(dev);
	for (const Interface &ifc : ifaces)
		write_interface(dev.root, ifc);
	write_net_files(dev, ifaces);
	write_leds(dev);
	write_switch(dev);
	write_file(dev.root + "/sys/class/thermal/thermal_zone0/temp", "45000\n");
	// The whole flash as its first MTD device sees it, and the data partition.
	write_file(dev.root + "/sys/class/mtd/mtd0/size", "134217728\n");
	fs::create_directories(dev.root + "/data");
	CpuClock(dev.cpu_load).write(dev.root);
	if (dev.boot_slots && !make_slot_images(dev))
		throw std::runtime_error("cannot build the slot images of " + dev.name + " (mksquashfs)");
	write_file(dev.root + "/proc/uptime", std::to_string(dev.uptime) + " 54321.00\n");
	std::string env;
	for (const auto &[k, v] : dev.env)
		env += k + "=" + v + "\n";
	write_file(dev.root + kFwEnvFile, env);
	fs::create_directories(dev.root + "/var/run/ubus");
	fs::create_directories(dev.root + "/var/run/zev-sim");
	fs::create_directories(dev.root + "/etc/config");
}

} // namespace sim
