// Script commands for the switch register model.
#include "switch_commands.h"

namespace sim {

namespace {

using Args = std::vector<std::string>;

uint64_t num(const std::string &s)
{
	return std::stoull(s, nullptr, 0);
}

uint32_t num32(const std::string &s)
{
	return static_cast<uint32_t>(num(s));
}

std::string fdb(SwitchModel &sw, const Args &a)
{
	FdbEntry e;
	if (a.size() < 8 || !parse_mac(a[4], e.mac))
		return "error: usage: switch fdb <ap> <address> <mac> <vid> <ports> <timer> [state] [bit23] [filter]";
	e.vid = static_cast<uint16_t>(num(a[5]));
	e.port_map = static_cast<uint8_t>(num(a[6]));
	e.timer = static_cast<uint8_t>(num(a[7]));
	if (a.size() > 8)
		e.state = static_cast<uint8_t>(num(a[8]));
	if (a.size() > 9)
		e.bit23 = num(a[9]) != 0;
	if (a.size() > 10)
		e.filter = static_cast<uint8_t>(num(a[10]));
	sw.set_fdb(num32(a[3]), e);
	return "ok";
}

} // namespace

std::string switch_command(World &world, const Args &a)
{
	Ap *ap = a.size() >= 3 ? world.find(a[2]) : nullptr;
	if (!ap)
		return "error: usage: switch <what> <ap> ...";
	SwitchModel &sw = ap->sw;
	const std::string &what = a[1];
	if (what == "netlink" && a.size() == 4 && (a[3] == "on" || a[3] == "off")) {
		sw.netlink = a[3] == "on";
	} else if (what == "counter" && (a.size() == 6 || a.size() == 7)) {
		sw.set_counter(num32(a[3]), num32(a[4]), num(a[5]), a.size() == 7 ? num(a[6]) : 0);
	} else if (what == "fdb") {
		return fdb(sw, a);
	} else if (what == "busy" && a.size() == 4) {
		sw.busy_polls = static_cast<int>(num(a[3]));
	} else if (what == "ts" && a.size() == 6) {
		sw.set_port_ts(num32(a[3]), num(a[4]), num(a[5]));
	} else if (what == "phy" && a.size() == 6) {
		sw.set_phy(num32(a[3]), num32(a[4]), static_cast<uint16_t>(num(a[5])));
	} else if (what == "reg" && a.size() == 5) {
		sw.set_reg(num32(a[3]), num32(a[4]));
	} else {
		return "error: unknown switch command";
	}
	return "ok";
}

} // namespace sim
