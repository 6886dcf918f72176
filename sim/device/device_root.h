// Lays out a simulated device's root directory: factory partition, board
// files, release file, the /sys and /proc trees the system reads.
#pragma once

#include <string>
#include <vector>

#include "device_spec.h"

namespace sim {

// One network interface of the device as /sys/class/net shows it.
struct Interface {
	std::string name;
	int index = 0;
	Mac mac = {};
	std::string bridge; // the bridge it is a port of, or empty
	int radio = -1;     // Wi-Fi: radio number, unit; -1 otherwise
	int unit = -1;
	std::string ssid;
};

// Interfaces in index order: lo, eth0, eth0.5, eth0.<vlan>..., br-con,
// br-vlan<vlan>..., then the Wi-Fi interfaces radio by radio.
std::vector<Interface> interfaces(const DeviceSpec &dev);

constexpr int kFactoryMtd = 3;
constexpr size_t kFactorySize = 0x200000;
constexpr int kControlVlan = 5;

// The factory partition's bytes: erased flash with every item of the
// factory table, the checksum item holding the MD5 (hex) of the rest.
std::vector<uint8_t> factory_image(const DeviceSpec &dev);

// Writes the whole tree under dev.root.
void lay_out(const DeviceSpec &dev);

// Path of the boot-loader environment the fw_printenv stand-in reads.
constexpr const char *kFwEnvFile = "/var/lib/sim/fw_env";

} // namespace sim
