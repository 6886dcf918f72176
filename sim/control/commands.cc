// Script commands of the simulator.
#include "commands.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "../driver/events.h"
#include "../switch/switch_commands.h"

namespace sim {

namespace {

using Args = std::vector<std::string>;

std::string error(const std::string &why)
{
	return "error: " + why;
}

std::string sta_add(World &world, DriverServer &server, const Args &a)
{
	Ap *ap = a.size() >= 5 ? world.find(a[2]) : nullptr;
	const Interface *i = ap ? ap->iface(a[3]) : nullptr;
	Station sta;
	if (!i || i->radio < 0 || !parse_mac(a[4], sta.mac))
		return error("usage: sta add <ap> <wifi-ifname> <mac> [rssi] [moved]");
	if (a.size() > 5)
		sta.rssi = static_cast<int8_t>(std::stoi(a[5]));
	bool moved = a.size() > 6 && a[6] != "0";
	auto &list = ap->stations[i->name];
	sta.aid = static_cast<uint16_t>(list.size() + 1);
	sta.hostname = "sta-" + a[4].substr(a[4].size() - 5);
	list.push_back(sta);
	server.broadcast(ap->device.name, events::sta_join(i->index, sta, moved));
	return "ok";
}

std::string sta_del(World &world, DriverServer &server, const Args &a)
{
	Ap *ap = a.size() == 5 ? world.find(a[2]) : nullptr;
	const Interface *i = ap ? ap->iface(a[3]) : nullptr;
	Mac mac;
	if (!i || !parse_mac(a[4], mac))
		return error("usage: sta del <ap> <wifi-ifname> <mac>");
	auto &list = ap->stations[i->name];
	for (auto it = list.begin(); it != list.end(); ++it) {
		if (it->mac == mac) {
			list.erase(it);
			server.broadcast(ap->device.name, events::sta_leave(i->index, mac, 3));
			return "ok";
		}
	}
	return error("no such station");
}

std::string sta_list(World &world, const Args &a)
{
	Ap *ap = a.size() == 3 || a.size() == 4 ? world.find(a[2]) : nullptr;
	if (!ap || (a.size() == 4 && !ap->iface(a[3])))
		return error("usage: sta list <ap> [ifname]");
	std::string out = "ok";
	for (const auto &[ifname, list] : ap->stations) {
		if (a.size() == 4 && ifname != a[3])
			continue;
		for (const Station &s : list)
			out += " " + ifname + "/" + mac_text(s.mac);
	}
	return out;
}

std::string pmk_list(World &world, const Args &a)
{
	Ap *ap = a.size() == 3 ? world.find(a[2]) : nullptr;
	if (!ap)
		return error("usage: pmk list <ap>");
	std::string out = "ok";
	for (const auto &entry : ap->pmk_saved)
		out += " " + entry.first;
	return out;
}

std::string pmk_show(World &world, const Args &a)
{
	Ap *ap = a.size() == 5 ? world.find(a[2]) : nullptr;
	Mac mac;
	if (!ap || !parse_mac(a[4], mac))
		return error("usage: pmk show <ap> <ifname> <sta-mac>");
	auto it = ap->pmk_saved.find(a[3] + "/" + mac_text(mac));
	if (it == ap->pmk_saved.end())
		return error("no such record");
	static const char digits[] = "0123456789abcdef";
	std::string out = "ok ";
	for (uint8_t b : it->second) {
		out += digits[b >> 4];
		out += digits[b & 15];
	}
	return out;
}

std::string bss_add(World &world, const Args &a)
{
	Ap *ap = a.size() == 7 ? world.find(a[2]) : nullptr;
	ForeignBss b;
	if (!ap || !parse_mac(a[4], b.bssid))
		return error("usage: bss add <ap> <ssid> <bssid> <channel> <rssi>");
	b.ssid = a[3];
	b.channel = std::stoi(a[5]);
	b.rssi = static_cast<int8_t>(std::stoi(a[6]));
	ap->foreign.push_back(b);
	return "ok";
}

std::string link(World &world, const Args &a)
{
	Ap *ap = a.size() == 4 ? world.find(a[1]) : nullptr;
	if (!ap || !ap->iface(a[2]) || (a[3] != "up" && a[3] != "down"))
		return error("usage: link <ap> <ifname> up|down");
	ap->link_up[a[2]] = a[3] == "up";
	std::ofstream(ap->device.root + "/sys/class/net/" + a[2] + "/operstate") << (a[3] == "up" ? "up\n" : "down\n");
	return "ok";
}

// "radio <ap> <radio>": what the radio is set to now.
std::string radio(World &world, const Args &a)
{
	Ap *ap = a.size() == 3 ? world.find(a[1]) : nullptr;
	size_t r = ap ? static_cast<size_t>(std::stoul(a[2])) : 0;
	if (!ap || r >= ap->radios.size())
		return error("usage: radio <ap> <radio>");
	return "ok channel " + std::to_string(ap->radios[r].channel) + " power " + std::to_string(ap->radios[r].txpower);
}

// "power <ap> <radio> <dBm>": the radio's transmit power, as a driver setter would.
std::string power(World &world, const Args &a)
{
	Ap *ap = a.size() == 4 ? world.find(a[1]) : nullptr;
	size_t r = ap ? static_cast<size_t>(std::stoul(a[2])) : 0;
	if (!ap || r >= ap->radios.size())
		return error("usage: power <ap> <radio> <dBm>");
	ap->radios[r].txpower = std::stoi(a[3]);
	return "ok";
}

// "setting <ap> <radio> channel|power": the RRM agent's applied-settings file.
std::string setting(World &world, const Args &a)
{
	Ap *ap = a.size() == 4 ? world.find(a[1]) : nullptr;
	if (!ap || (a[3] != "channel" && a[3] != "power"))
		return error("usage: setting <ap> <radio> channel|power");
	std::ifstream in(ap->device.root + "/etc/wlc/rrm/cfg/radio" + std::to_string(std::stoul(a[2])) + "/" + a[3]);
	std::string value;
	if (!(in >> value))
		return error("no setting");
	return "ok " + value;
}

// The scan requests taken since the last question, oldest first:
// "ok ifname:channel:active|passive:dwell ...".
std::string scan_requests(Ap &ap)
{
	std::string out = "ok";
	for (const ScanRequest &r : ap.scan_requests)
		out += " " + r.ifname + ":" + std::to_string(r.channel) + ":" + (r.active ? "active" : "passive") + ":" +
		       std::to_string(r.dwell_ms);
	ap.scan_requests.clear();
	return out;
}

// "stats <ap> <wifi-ifname> <channel>": channel statistics for that channel
// sent to the AP's event subscribers now, whatever the AP is scanning.
std::string stats(World &world, DriverServer &server, const Args &a)
{
	Ap *ap = a.size() == 4 ? world.find(a[1]) : nullptr;
	const Interface *i = ap ? ap->iface(a[2]) : nullptr;
	if (!i || i->radio < 0)
		return error("usage: stats <ap> <wifi-ifname> <channel>");
	int channel = std::stoi(a[3]);
	server.broadcast(ap->device.name, events::chan_stats(i->index, channel, world.load(channel), 10));
	return "ok";
}

} // namespace

std::string run_command(World &world, DriverServer &server, const std::string &line)
{
	Args a;
	std::istringstream in(line);
	for (std::string w; in >> w;)
		a.push_back(w);
	try {
		if (a.size() >= 2 && a[0] == "sta" && a[1] == "add")
			return sta_add(world, server, a);
		if (a.size() >= 2 && a[0] == "sta" && a[1] == "del")
			return sta_del(world, server, a);
		if (a.size() >= 2 && a[0] == "sta" && a[1] == "list")
			return sta_list(world, a);
		if (a.size() >= 2 && a[0] == "pmk" && a[1] == "list")
			return pmk_list(world, a);
		if (a.size() >= 2 && a[0] == "pmk" && a[1] == "show")
			return pmk_show(world, a);
		if (a.size() == 2 && a[0] == "events" && world.find(a[1]))
			return "ok " + std::to_string(server.subscribers(a[1]));
		if (a.size() >= 2 && a[0] == "bss" && a[1] == "add")
			return bss_add(world, a);
		if (a.size() == 4 && a[0] == "hear" && world.find(a[1]) && world.find(a[2])) {
			world.hear(a[1], a[2], std::stoi(a[3]));
			return "ok";
		}
		if (a.size() == 4 && a[0] == "load") {
			ChannelLoad &l = world.load(std::stoi(a[1]));
			l.busy = static_cast<uint32_t>(std::stoul(a[2]));
			l.false_cca = static_cast<uint32_t>(std::stoul(a[3]));
			return "ok";
		}
		if (a.size() == 3 && a[0] == "cpu" && world.find(a[1])) {
			int load = std::stoi(a[2]);
			if (load < 0 || load > 100)
				return error("usage: cpu <ap> <0-100>");
			world.find(a[1])->cpu.set_load(load);
			return "ok";
		}
		if (a.size() == 3 && a[0] == "scan" && world.find(a[1]) && (a[2] == "stall" || a[2] == "run")) {
			world.find(a[1])->scans_stalled = a[2] == "stall";
			return "ok";
		}
		if (a.size() == 2 && a[0] == "scans" && world.find(a[1]))
			return scan_requests(*world.find(a[1]));
		if (a.size() == 3 && a[0] == "extcha" && world.find(a[1]) && (a[2] == "fail" || a[2] == "ok")) {
			world.find(a[1])->ext_channel_fails = a[2] == "fail";
			return "ok";
		}
		if (!a.empty() && a[0] == "link")
			return link(world, a);
		if (!a.empty() && a[0] == "switch")
			return switch_command(world, a);
		if (!a.empty() && a[0] == "radio")
			return radio(world, a);
		if (!a.empty() && a[0] == "power")
			return power(world, a);
		if (!a.empty() && a[0] == "stats")
			return stats(world, server, a);
		if (!a.empty() && a[0] == "setting")
			return setting(world, a);
	} catch (const std::exception &) {
		return error("bad number");
	}
	return error("unknown command");
}

} // namespace sim
