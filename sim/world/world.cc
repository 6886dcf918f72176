// The radio world model.
#include "world.h"

#include <algorithm>

namespace sim {

const Interface *Ap::iface(const std::string &name) const
{
	for (const Interface &i : ifaces)
		if (i.name == name)
			return &i;
	return nullptr;
}

const Interface *Ap::iface_by_index(int index) const
{
	for (const Interface &i : ifaces)
		if (i.index == index)
			return &i;
	return nullptr;
}

Ap &World::add(const DeviceSpec &device)
{
	Ap ap;
	ap.device = device;
	ap.cpu.set_load(device.cpu_load);
	ap.ifaces = interfaces(device);
	ap.sw = SwitchModel(device);
	ap.sw.netlink = device.switch_netlink;
	for (const RadioSpec &r : device.radios)
		ap.radios.push_back(RadioState{r.channel, r.width, r.txpower, 1});
	for (const Interface &i : ap.ifaces)
		ap.link_up[i.name] = true;
	aps_.push_back(std::move(ap));
	return aps_.back();
}

Ap *World::find(const std::string &name)
{
	for (Ap &ap : aps_)
		if (ap.device.name == name)
			return &ap;
	return nullptr;
}

void World::hear(const std::string &a, const std::string &b, int rssi)
{
	rssi_[{a, b}] = rssi;
	rssi_[{b, a}] = rssi;
}

std::optional<int> World::heard(const std::string &a, const std::string &b) const
{
	auto it = rssi_.find({a, b});
	if (it == rssi_.end())
		return std::nullopt;
	return it->second;
}

std::vector<HeardBss> World::scan(const Ap &ap, int channel) const
{
	std::vector<HeardBss> out;
	auto it = loads_.find(channel);
	uint8_t util = static_cast<uint8_t>((it != loads_.end() ? it->second.busy : 20) * 255 / 100);
	for (const Ap &other : aps_) {
		auto rssi = heard(ap.device.name, other.device.name);
		if (&other == &ap || !rssi)
			continue;
		for (const Interface &i : other.ifaces) {
			if (i.radio < 0 || other.radios[static_cast<size_t>(i.radio)].channel != channel ||
			    !other.link_up.at(i.name))
				continue;
			auto st = other.stations.find(i.name);
			HeardBss b;
			b.ssid = i.ssid;
			b.bssid = i.mac;
			// The site gives what is heard at the sender's configured power;
			// a sender turned up or down is heard that much louder or fainter.
			size_t r = static_cast<size_t>(i.radio);
			int configured = r < other.device.radios.size() ? other.device.radios[r].txpower : other.radios[r].txpower;
			b.rssi = static_cast<int8_t>(std::clamp(*rssi + other.radios[r].txpower - configured, -127, 0));
			b.channel = channel;
			b.width = other.radios[static_cast<size_t>(i.radio)].width;
			b.ch_util = util;
			b.sta_num = static_cast<uint16_t>(st == other.stations.end() ? 0 : st->second.size());
			b.adm_cap = 1000;
			out.push_back(b);
		}
	}
	for (const ForeignBss &f : ap.foreign) {
		if (f.channel != channel)
			continue;
		HeardBss b;
		b.ssid = f.ssid;
		b.bssid = f.bssid;
		b.rssi = f.rssi;
		b.channel = f.channel;
		b.width = f.width;
		b.qbss = false;
		out.push_back(b);
	}
	return out;
}

} // namespace sim
