// The switch register model.
#include "switch_model.h"

#include <cstdio>
#include <fstream>

namespace sim {

namespace {

constexpr uint32_t kControl = 0x80;
constexpr uint32_t kResult1 = 0x8C, kResult2 = 0x84, kResult3 = 0x88;
constexpr uint32_t kBusy = 1u << 15, kEnd = 1u << 14, kFound = 1u << 13;
constexpr uint32_t kLastAddress = 0x7FF;

bool is_wide_low(uint32_t offset)
{
	return offset == 0xA8 || offset == 0x48;
}

std::string hex(uint32_t v, int width = 8)
{
	char b[16];
	std::snprintf(b, sizeof(b), "0x%0*x", width, v);
	return b;
}

} // namespace

SwitchModel::SwitchModel(const DeviceSpec &dev) : log_path_(dev.root + "/var/run/zev-sim/switch.log")
{
	// The same counters the switch configuration library reports.
	for (int p = 0; p < dev.switch_ports; p++) {
		uint64_t base = 1000 * static_cast<uint64_t>(p + 1);
		uint32_t port = static_cast<uint32_t>(p);
		set_counter(port, 0x08, base, 0);
		set_counter(port, 0x0C, 3, 0);
		set_counter(port, 0x10, 7, 0);
		set_counter(port, 0x48, base * 1500, 0);
		set_counter(port, 0x68, base * 2, 0);
		set_counter(port, 0xA8, base * 3000, 0);
	}
	// Per PHY: control, status and the identifier words.
	for (uint32_t phy = 0; phy < 5; phy++) {
		set_phy(phy, 0, 0x1140);
		set_phy(phy, 1, 0x796d);
		set_phy(phy, 2, 0x03a2);
		set_phy(phy, 3, 0x9441);
	}
}

void SwitchModel::log(const std::string &line) const
{
	if (log_path_.empty())
		return;
	std::ofstream out(log_path_, std::ios::app);
	out << line << '\n';
}

void SwitchModel::set_counter(uint32_t port, uint32_t offset, uint64_t value, uint64_t step)
{
	uint32_t reg = kMibBase + port * kMibStride + offset;
	if (is_wide_low(offset))
		wide_[reg] = Wide{value, step};
	else
		regs_[reg] = static_cast<uint32_t>(value);
}

void SwitchModel::set_fdb(uint32_t address, const FdbEntry &entry)
{
	fdb_[address & kLastAddress] = entry;
}

void SwitchModel::set_port_ts(uint32_t port, uint64_t a, uint64_t b)
{
	ts_[port] = {a, b};
}

// The result of a search from an address on: the next entry, or the end.
void SwitchModel::search_from(uint32_t address)
{
	auto it = fdb_.lower_bound(address);
	busy_left_ = busy_polls;
	if (it == fdb_.end()) {
		status_ = kEnd | (kLastAddress << 16);
		result_[0] = result_[1] = result_[2] = 0;
		return;
	}
	const FdbEntry &e = it->second;
	status_ = kFound | (it->first << 16) | (it->first == kLastAddress ? kEnd : 0);
	result_[0] = (uint32_t(e.timer) << 24) | (uint32_t(e.bit23) << 23) | (uint32_t(e.state & 3) << 20) |
		     (uint32_t(e.port_map) << 4);
	result_[1] = (uint32_t(e.mac[0]) << 24) | (uint32_t(e.mac[1]) << 16) | (uint32_t(e.mac[2]) << 8) | e.mac[3];
	result_[2] = (uint32_t(e.mac[4]) << 24) | (uint32_t(e.mac[5]) << 16) | (uint32_t(e.filter & 7) << 12) |
		     (e.vid & 0xFFFu);
}

uint32_t SwitchModel::search_read(uint32_t reg)
{
	if (reg == kControl) {
		if (busy_left_ > 0) {
			busy_left_--;
			return kBusy;
		}
		return status_;
	}
	return result_[reg == kResult1 ? 0 : reg == kResult2 ? 1 : 2];
}

uint32_t SwitchModel::read(uint32_t reg, const char *via)
{
	uint32_t v;
	if (reg == kControl || reg == kResult1 || reg == kResult2 || reg == kResult3) {
		v = search_read(reg);
	} else if (auto w = wide_.find(reg); w != wide_.end()) {
		v = static_cast<uint32_t>(w->second.value);
		w->second.value += w->second.step;
	} else if (auto hi = wide_.find(reg - 4); reg >= 4 && hi != wide_.end()) {
		v = static_cast<uint32_t>(hi->second.value >> 32);
	} else {
		auto it = regs_.find(reg);
		v = it == regs_.end() ? 0 : it->second;
	}
	log(std::string(via) + " read " + hex(reg) + " " + hex(v));
	return v;
}

void SwitchModel::write(uint32_t reg, uint32_t value, const char *via)
{
	log(std::string(via) + " write " + hex(reg) + " " + hex(value));
	if (reg == kControl && value == 0x8004) {
		search_from(0);
	} else if (reg == kControl && value == 0x8005) {
		uint32_t at = (status_ >> 16) & 0xFFF;
		search_from((status_ & kEnd) ? kLastAddress + 1 : at + 1);
	} else {
		regs_[reg] = value;
	}
}

bool SwitchModel::phy_read(uint32_t phy, uint32_t reg, uint32_t &value, const char *via)
{
	if (phy > 30 || reg > 31)
		return false;
	auto it = phy_.find((phy << 16) | reg);
	value = it == phy_.end() ? 0xFFFF : it->second;
	log(std::string(via) + " phy-read " + std::to_string(phy) + " " + hex(reg, 2) + " " + hex(value, 4));
	return true;
}

bool SwitchModel::phy_write(uint32_t phy, uint32_t reg, uint32_t value, const char *via)
{
	if (phy > 30 || reg > 31)
		return false;
	log(std::string(via) + " phy-write " + std::to_string(phy) + " " + hex(reg, 2) + " " + hex(value & 0xFFFF, 4));
	phy_[(phy << 16) | reg] = static_cast<uint16_t>(value);
	return true;
}

std::array<uint64_t, 2> SwitchModel::port_ts(uint32_t port, const char *via)
{
	log(std::string(via) + " port-ts " + std::to_string(port));
	auto it = ts_.find(port);
	return it == ts_.end() ? std::array<uint64_t, 2>{0, 0} : it->second;
}

} // namespace sim
