// What a simulated device is made of: identity, factory data, radios,
// interfaces, bridges and LEDs. Read from a site file (JSON) or built by tests.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <json-c/json.h>

namespace sim {

using Mac = std::array<uint8_t, 6>;

struct RadioSpec {
	int band = 2;                 // 2 or 5 (GHz)
	std::string ifprefix = "ra";  // virtual interfaces are ifprefix0, ifprefix1, ...
	int channel = 6;
	int width = 20;               // MHz: 20, 40, 80, 160
	int txpower = 20;             // dBm
	std::vector<std::string> ssids = {"wlc"};
};

struct DeviceSpec {
	std::string name = "ap1";
	std::string root;
	std::string model = "zev-ap1";
	Mac lan_mac = {0x00, 0x11, 0x22, 0xa3, 0xb4, 0xc5};
	std::string serial = "SN0001";
	std::string ipv4 = "192.168.1.10";
	std::string netmask = "255.255.255.0";
	std::string release = "1.2.3";
	std::string revision = "r12345-abcdef";
	std::string builddate = "20261201";
	std::map<std::string, std::string> env = {{"dual_boot.current_slot", "0"}};
	std::vector<RadioSpec> radios = {RadioSpec{}, RadioSpec{5, "rai", 36, 80, 20, {"wlc"}}};
	std::vector<int> vlans = {10};
	int switch_ports = 5;
	bool switch_netlink = true;   // the switch driver offers its generic netlink family
	double uptime = 12345.67;
	// Dual-boot firmware slots: squashfs images for the two UBI volumes and
	// the running slot's block device (opt-in: it takes a loop device).
	bool boot_slots = false;
	int running_slot = 0;
	int cpu_load = 10; // percent busy of the simulated CPU

	// The MAC of virtual interface `unit` of radio `radio`.
	Mac bssid(size_t radio, int unit) const;
};

// Reads one device from its site-file object; missing members keep defaults.
DeviceSpec device_from_json(json_object *obj);

std::string mac_text(const Mac &mac);
bool parse_mac(const std::string &text, Mac &mac);

} // namespace sim
