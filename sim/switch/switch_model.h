// The MT753x switch as its registers show it: plain registers, per-port MIB
// counters (the 64-bit ones advancing as scripted), PHY registers, the
// address table with its search state machine, per-port timestamps, whether
// the driver offers its generic netlink family, and a log of every access
// (one line each, appended to a file under the device root).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>

#include "../device/device_spec.h"

namespace sim {

// One address table entry, by the fields its result registers carry.
struct FdbEntry {
	Mac mac = {};
	uint16_t vid = 1;
	uint8_t port_map = 0;
	uint8_t timer = 0;      // age timer (0xFF: not ageing)
	uint8_t state = 0;      // 2 bits; 3 = static
	bool bit23 = false;
	uint8_t filter = 0;     // 3 bits
};

class SwitchModel {
public:
	SwitchModel() = default;
	explicit SwitchModel(const DeviceSpec &dev);

	bool netlink = true;  // the driver offers the "mt753x" family
	int busy_polls = 0;   // status reads answered busy after each search command

	uint32_t read(uint32_t reg, const char *via);
	void write(uint32_t reg, uint32_t value, const char *via);
	// PHY registers of phy 0..30; false for another address.
	bool phy_read(uint32_t phy, uint32_t reg, uint32_t &value, const char *via);
	bool phy_write(uint32_t phy, uint32_t reg, uint32_t value, const char *via);
	std::array<uint64_t, 2> port_ts(uint32_t port, const char *via);

	// Script: a MIB counter at offset of a port; a 64-bit counter given by its
	// low word's offset advances by step after each read of that low word.
	void set_counter(uint32_t port, uint32_t offset, uint64_t value, uint64_t step);
	void set_fdb(uint32_t address, const FdbEntry &entry);
	void set_port_ts(uint32_t port, uint64_t a, uint64_t b);
	void set_phy(uint32_t phy, uint32_t reg, uint16_t value) { phy_[(phy << 16) | reg] = value; }
	void set_reg(uint32_t reg, uint32_t value) { regs_[reg] = value; }
	const std::string &log_path() const { return log_path_; }

	static constexpr uint32_t kMibBase = 0x4000;
	static constexpr uint32_t kMibStride = 0x100;

private:
	struct Wide {
		uint64_t value = 0;
		uint64_t step = 0;
	};

	void search_from(uint32_t address);
	uint32_t search_read(uint32_t reg);
	void log(const std::string &line) const;

	std::string log_path_;
	std::map<uint32_t, uint32_t> regs_;
	std::map<uint32_t, Wide> wide_; // by the low word's register
	std::map<uint32_t, uint16_t> phy_;
	std::map<uint32_t, FdbEntry> fdb_;
	std::map<uint32_t, std::array<uint64_t, 2>> ts_;
	uint32_t status_ = 0;
	uint32_t result_[3] = {0, 0, 0}; // 0x8C, 0x84, 0x88
	int busy_left_ = 0;
};

} // namespace sim
