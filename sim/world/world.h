// The simulated radio world: the devices, what each radio is set to, the
// stations on each interface, which AP hears which at what signal, the load
// of each channel, and extra neighbour BSSs outside the site.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "../device/device_root.h"
#include "../device/device_spec.h"
#include "../switch/switch_model.h"
#include "../device/proc_stat.h"

namespace sim {

struct Station {
	Mac mac = {};
	int8_t rssi = -55;
	uint16_t rate_word = 0x4287; // HT mixed, MCS 7, 40 MHz, short GI
	uint32_t connected_time = 0;
	uint64_t uplink_bytes = 0, downlink_bytes = 0, uplink_pkts = 0, downlink_pkts = 0;
	bool cap_11k = true, cap_11v = true, cap_11r = true;
	uint32_t ipv4 = 0;
	std::string hostname;
	uint16_t aid = 1;
};

struct RadioState {
	int channel = 0;
	int width = 20;
	int txpower = 20;
	int ext_channel = 1; // secondary channel above (1) or below (0)
};

struct ChannelLoad {
	uint32_t busy = 20;   // percent of time
	uint32_t false_cca = 50;
	uint32_t non_wifi = 2;
};

// A BSS outside the simulated APs, heard by one AP.
struct ForeignBss {
	std::string ssid;
	Mac bssid = {};
	int channel = 1;
	int8_t rssi = -70;
	int width = 20;
};

// A one-channel scan as the driver was asked for it.
struct ScanRequest {
	std::string ifname;
	int channel = 0;
	bool active = false; // mode byte 0x00; 0x80 is passive
	int dwell_ms = 0;
};

struct Ap {
	DeviceSpec device;
	std::vector<Interface> ifaces;
	std::vector<RadioState> radios;
	std::map<std::string, std::vector<Station>> stations;          // by interface name
	std::map<std::string, std::vector<uint8_t>> pmk_saved;         // by "ifname/sta-mac": the 167-byte request
	std::vector<ForeignBss> foreign;
	std::map<std::string, bool> link_up;                           // by interface name
	SwitchModel sw;                                                // the switch as its registers show it
	CpuClock cpu;
	bool scans_stalled = false; // scan requests are taken but never end (a stuck radio)
	std::vector<ScanRequest> scan_requests; // taken since the script last asked
	bool ext_channel_fails = false; // the driver refuses to place the secondary channel

	const Interface *iface(const std::string &name) const;
	const Interface *iface_by_index(int index) const;
};

// One BSS as an AP hears it during a scan.
struct HeardBss {
	std::string ssid;
	Mac bssid = {};
	int8_t rssi = 0;
	int channel = 0;
	int width = 20;
	bool qbss = true;
	uint8_t ch_util = 0; // of 255
	uint16_t sta_num = 0;
	uint16_t adm_cap = 0;
};

class World {
public:
	Ap &add(const DeviceSpec &device);
	Ap *find(const std::string &name);
	std::vector<Ap> &aps() { return aps_; }

	// a hears b at rssi dBm (symmetric).
	void hear(const std::string &a, const std::string &b, int rssi);
	std::optional<int> heard(const std::string &a, const std::string &b) const;

	ChannelLoad &load(int channel) { return loads_[channel]; }

	// What the AP's radio hears on a channel: the site's BSSs on that channel
	// within range, and the foreign ones.
	std::vector<HeardBss> scan(const Ap &ap, int channel) const;

private:
	std::vector<Ap> aps_;
	std::map<std::pair<std::string, std::string>, int> rssi_;
	std::map<int, ChannelLoad> loads_;
};

} // namespace sim
