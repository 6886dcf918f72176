// Packing reports into their compact blocks, and the interned BSS names.
#include "packed.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace rrm {

namespace {

constexpr char hex_digits[] = "0123456789abcdef";

void format_mac(const uint8_t mac[6], char out[18])
{
	for (size_t i = 0; i < 6; i++) {
		out[3 * i] = hex_digits[mac[i] >> 4];
		out[3 * i + 1] = hex_digits[mac[i] & 15];
		out[3 * i + 2] = i < 5 ? ':' : '\0';
	}
}

// The heap's own bookkeeping for one block, as counted against the budget.
constexpr size_t heap_overhead = 16;

} // namespace

size_t BssNames::Hash::operator()(const Name &n) const noexcept
{
	uint64_t h = 1469598103934665603ull;
	auto mix = [&h](uint8_t b) { h = (h ^ b) * 1099511628211ull; };
	std::for_each(n.bssid.begin(), n.bssid.end(), mix);
	mix(n.ssid_len);
	std::for_each(n.ssid, n.ssid + n.ssid_len, [&](char c) { mix(static_cast<uint8_t>(c)); });
	return static_cast<size_t>(h);
}

uint32_t BssNames::intern(const uint8_t bssid[6], std::string_view ssid)
{
	Name key;
	std::copy(bssid, bssid + 6, key.bssid.begin());
	key.ssid_len = static_cast<uint8_t>(std::min(ssid.size(), sizeof key.ssid));
	ssid.copy(key.ssid, key.ssid_len);
	auto [it, fresh] = index_.try_emplace(key, 0);
	if (!fresh) {
		slots_[it->second].refs++;
		return it->second;
	}
	uint32_t id;
	if (!free_.empty()) {
		id = free_.back();
		free_.pop_back();
	} else {
		id = static_cast<uint32_t>(slots_.size());
		slots_.emplace_back();
	}
	it->second = id;
	Slot &s = slots_[id];
	s.name = &it->first;
	s.refs = 1;
	format_mac(bssid, s.text);
	return id;
}

void BssNames::release(uint32_t id)
{
	Slot &s = slots_[id];
	if (--s.refs > 0)
		return;
	index_.erase(index_.find(*s.name));
	s = {};
	free_.push_back(id);
}

size_t BssNames::memory() const
{
	// A node of the index: its link, the key and number, the cached hash.
	size_t node = sizeof(void *) + sizeof(std::pair<const Name, uint32_t>) + sizeof(size_t) + heap_overhead;
	return index_.size() * node + index_.bucket_count() * sizeof(void *) + slots_.capacity() * sizeof(Slot) +
	       free_.capacity() * sizeof(uint32_t);
}

namespace {

// The kinds of report a block holds; any other is the radio report (2).
constexpr uint8_t kind_of_channels = 0, kind_of_bss = 1;

} // namespace

size_t PackedReport::block_size(uint8_t kind, size_t count, size_t bssids)
{
	static_assert(sizeof(Bss) == 16 && sizeof(Station) == 16 && sizeof(Channel) == 18);
	size_t item = kind == kind_of_channels ? sizeof(Channel) : kind == kind_of_bss ? sizeof(Bss) : sizeof(Station);
	return header_bytes + ((count * item + 3) & ~size_t(3)) + bssids * sizeof(uint32_t);
}

uint32_t *PackedReport::bssid_refs() const
{
	auto *base = const_cast<char *>(reinterpret_cast<const char *>(this));
	return reinterpret_cast<uint32_t *>(base + block_size(kind_, count_, 0));
}

PackedReport *PackedReport::pack(const Record &r, BssNames &names)
{
	size_t count = std::visit(
		[](const auto &v) {
			if constexpr (std::is_same_v<std::decay_t<decltype(v)>, RadioReport>)
				return v.stations.size();
			else
				return v.size();
		},
		r);
	size_t bssids = std::holds_alternative<RadioReport>(r) ? std::get<RadioReport>(r).bssids.size() : 0;
	count = std::min<size_t>(count, UINT16_MAX);
	bssids = std::min<size_t>(bssids, UINT16_MAX);
	auto kind = static_cast<uint8_t>(r.index());
	void *block = ::operator new(block_size(kind, count, bssids), std::nothrow);
	if (!block)
		return nullptr;
	auto *p = new (block) PackedReport();
	p->kind_ = kind;
	p->count_ = static_cast<uint16_t>(count);
	p->bssids_ = static_cast<uint16_t>(bssids);
	if (auto *c = std::get_if<ChannelList>(&r))
		p->fill(*c);
	else if (auto *b = std::get_if<BssList>(&r))
		p->fill(*b, names);
	else
		p->fill(std::get<RadioReport>(r), names);
	return p;
}

void PackedReport::release(PackedReport *p, BssNames &names) noexcept
{
	if (!p)
		return;
	if (p->kind_ == kind_of_bss)
		for (size_t i = 0; i < p->count_; i++)
			names.release(p->items<Bss>()[i].name);
	for (size_t i = 0; i < p->bssids_; i++)
		names.release(p->bssid_refs()[i]);
	p->~PackedReport();
	::operator delete(p);
}

size_t PackedReport::memory() const
{
	return block_size(kind_, count_, bssids_) + heap_overhead;
}

void PackedReport::fill(const ChannelList &list)
{
	auto *out = items<Channel>();
	for (size_t i = 0; i < count_; i++) {
		const zev_wifi_chan_stats &s = list[i];
		auto u16 = [](uint32_t v) { return static_cast<uint16_t>(v); };
		out[i] = {u16(s.type),	  u16(s.interval), u16(s.channel),	 u16(s.busy_time), u16(s.tx_time),
			  u16(s.rx_time), u16(s.obss_time), u16(s.non_wifi_time), u16(s.false_cca)};
	}
}

void PackedReport::fill(const BssList &list, BssNames &names)
{
	auto *out = items<Bss>();
	for (size_t i = 0; i < count_; i++) {
		const zev_wifi_bss &b = list[i];
		std::string_view ssid(b.ssid, strnlen(b.ssid, sizeof b.ssid));
		out[i] = {names.intern(b.bssid, ssid),	   static_cast<int16_t>(b.rssi),   static_cast<uint16_t>(b.channel),
			  static_cast<uint16_t>(b.bw),	   static_cast<uint16_t>(b.sta_num), b.ch_util,
			  b.qbss};
	}
}

void PackedReport::fill(const RadioReport &r, BssNames &names)
{
	channel_ = static_cast<int16_t>(r.channel);
	power_ = static_cast<int16_t>(r.power);
	auto *out = items<Station>();
	for (size_t i = 0; i < count_; i++) {
		const zev_wifi_sta &s = r.stations[i];
		Station &o = out[i];
		std::copy(s.mac, s.mac + 6, o.mac);
		o.phy = s.phy_mode;
		o.mcs = s.mcs;
		o.bw = s.bw;
		o.rssi = static_cast<int16_t>(station_rssi(s));
		o.time = s.connected_time;
	}
	for (size_t i = 0; i < bssids_; i++)
		bssid_refs()[i] = names.intern(r.bssids[i].data(), {});
}

Record PackedReport::unpack(const BssNames &names) const
{
	if (kind_ == kind_of_channels) {
		ChannelList list(count_);
		for (size_t i = 0; i < count_; i++) {
			const Channel &c = items<Channel>()[i];
			list[i] = {c.type, c.interval, c.channel, c.busy, c.tx, c.rx, c.obss, c.non_wifi, c.false_cca};
		}
		return list;
	}
	if (kind_ == kind_of_bss) {
		BssList list(count_);
		for (size_t i = 0; i < count_; i++) {
			const Bss &b = items<Bss>()[i];
			const BssNames::Name &n = names.at(b.name);
			zev_wifi_bss &o = list[i];
			std::copy(n.bssid.begin(), n.bssid.end(), o.bssid);
			std::copy(n.ssid, n.ssid + n.ssid_len, o.ssid);
			o.rssi = b.rssi;
			o.channel = b.channel;
			o.bw = b.bw;
			o.sta_num = b.sta;
			o.ch_util = b.util;
			o.qbss = b.qbss;
		}
		return list;
	}
	RadioReport r;
	r.channel = channel_;
	r.power = power_;
	r.stations.resize(count_);
	for (size_t i = 0; i < count_; i++) {
		const Station &s = items<Station>()[i];
		zev_wifi_sta &o = r.stations[i];
		std::copy(s.mac, s.mac + 6, o.mac);
		o.phy_mode = s.phy;
		o.mcs = s.mcs;
		o.bw = s.bw;
		o.rssi[0] = s.rssi;
		o.connected_time = s.time;
	}
	for (size_t i = 0; i < bssids_; i++)
		r.bssids.push_back(names.at(bssid_refs()[i]).bssid);
	return r;
}

} // namespace rrm
