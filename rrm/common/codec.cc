// Encoding and decoding the RRM reports.
#include "codec.h"

#include <algorithm>
#include <cstring>

namespace rrm {

namespace {

using Attr = blob_attr *;

uint16_t u16(Attr a) { return a ? blobmsg_get_u16(a) : 0; }
int s16(Attr a) { return a ? static_cast<int16_t>(blobmsg_get_u16(a)) : 0; }

// The members of a table against a policy; mistyped members count as absent.
template <size_t N>
std::array<Attr, N> parse(const std::array<blobmsg_policy, N> &policy, const blob_attr *table)
{
	std::array<Attr, N> tb = {};
	Attr t = const_cast<Attr>(table);
	blobmsg_parse(policy.data(), N, tb.data(), blobmsg_data(t), static_cast<unsigned int>(blobmsg_data_len(t)));
	return tb;
}

// The elements of an array that must all be of one type; nullopt otherwise.
std::optional<std::vector<Attr>> elements(Attr array, int type)
{
	std::vector<Attr> out;
	Attr pos;
	size_t rem;
	blobmsg_for_each_attr(pos, array, rem) {
		if (blobmsg_type(pos) != type)
			return std::nullopt;
		out.push_back(pos);
	}
	return out;
}

std::optional<Mac> mac_of(Attr a)
{
	if (!a)
		return std::nullopt;
	auto mac = parse_mac(blobmsg_get_string(a));
	if (!mac || mac_is_zero(mac->data()))
		return std::nullopt;
	return mac;
}

void add_if(wlc::BlobBuf &buf, const char *name, uint32_t value, bool when)
{
	if (when)
		buf.add_u16(name, static_cast<uint16_t>(value));
}

} // namespace

std::string mac_text(const uint8_t mac[6])
{
	static constexpr char digits[] = "0123456789abcdef";
	std::string text(17, ':');
	for (size_t i = 0; i < 6; i++) {
		text[3 * i] = digits[mac[i] >> 4];
		text[3 * i + 1] = digits[mac[i] & 15];
	}
	return text;
}

std::optional<Mac> parse_mac(std::string_view text)
{
	auto hex = [](char c) -> int {
		if (c >= '0' && c <= '9')
			return c - '0';
		c = static_cast<char>(c | 0x20);
		return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
	};
	if (text.size() != 17)
		return std::nullopt;
	Mac mac{};
	for (size_t i = 0; i < 6; i++) {
		int hi = hex(text[3 * i]), lo = hex(text[3 * i + 1]);
		if (hi < 0 || lo < 0 || (i < 5 && text[3 * i + 2] != ':'))
			return std::nullopt;
		mac[i] = static_cast<uint8_t>(hi << 4 | lo);
	}
	return mac;
}

bool mac_is_zero(const uint8_t mac[6])
{
	return std::all_of(mac, mac + 6, [](uint8_t b) { return b == 0; });
}

int station_rssi(const zev_wifi_sta &sta)
{
	int sum = 0, n = 0;
	for (int32_t r : sta.rssi)
		if (r != 0) {
			sum += r;
			n++;
		}
	return n ? sum / n : 0;
}

void encode_entry(wlc::BlobBuf &buf, const ChannelEntry &e)
{
	auto t = buf.table();
	add_if(buf, "type", e.type, e.type <= 1);
	buf.add_u16("ch", e.channel);
	buf.add_u16("int", e.interval);
	add_if(buf, "busy", e.busy, e.busy != 0);
	add_if(buf, "rx", e.rx, e.rx != 0);
	add_if(buf, "tx", e.tx, e.tx != 0);
	add_if(buf, "obss", e.obss, e.obss != 0);
	add_if(buf, "nw", e.non_wifi, e.non_wifi != 0);
	add_if(buf, "fcca", e.false_cca, e.false_cca != 0);
}

void encode_entry(wlc::BlobBuf &buf, const BssEntry &e)
{
	auto t = buf.table();
	buf.add_u16("ch", e.channel);
	if (!e.ssid.empty())
		buf.add("ssid", e.ssid);
	buf.add("bssid", e.bssid);
	add_if(buf, "rssi", static_cast<uint32_t>(e.rssi), e.rssi != 0);
	add_if(buf, "bw", e.bw, e.bw != 0);
	add_if(buf, "util", e.util, e.qbss && e.util);
	add_if(buf, "sta", e.sta, e.qbss && e.sta);
}

void encode_entry(wlc::BlobBuf &buf, const StationEntry &e)
{
	auto t = buf.table();
	buf.add("mac", e.mac);
	add_if(buf, "phy", e.phy, e.phy);
	add_if(buf, "mcs", e.mcs, e.mcs);
	add_if(buf, "bw", e.bw, e.bw);
	add_if(buf, "rssi", static_cast<uint32_t>(e.rssi), e.rssi != 0);
	if (e.time)
		buf.add_u32("time", e.time);
}

void encode_channels(wlc::BlobBuf &buf, const ChannelList &list)
{
	auto scan = buf.array("scan");
	for (const zev_wifi_chan_stats &r : list)
		if (r.interval && r.channel)
			encode_entry(buf, ChannelEntry{r.type, r.channel, r.interval, r.busy_time & 0xffff, r.rx_time & 0xffff,
						       r.tx_time & 0xffff, r.obss_time & 0xffff, r.non_wifi_time & 0xffff,
						       r.false_cca & 0xffff});
}

void encode_bss(wlc::BlobBuf &buf, const BssList &list)
{
	auto scan = buf.array("scan");
	for (const zev_wifi_bss &b : list)
		if (b.channel && !mac_is_zero(b.bssid))
			encode_entry(buf, BssEntry{b.channel, std::string_view(b.ssid, strnlen(b.ssid, sizeof b.ssid)),
						   mac_text(b.bssid), b.rssi, b.bw, b.ch_util, b.sta_num, b.qbss != 0});
}

void encode_radio(wlc::BlobBuf &buf, const RadioReport &report)
{
	add_if(buf, "ch", static_cast<uint32_t>(report.channel), report.channel != 0);
	add_if(buf, "pwr", static_cast<uint32_t>(report.power), report.power > unknown_power);
	if (!report.stations.empty()) {
		auto sta = buf.array("sta");
		for (const zev_wifi_sta &s : report.stations)
			if (!mac_is_zero(s.mac))
				encode_entry(buf, StationEntry{mac_text(s.mac), s.phy_mode, s.mcs, s.bw, station_rssi(s),
							       s.connected_time});
	}
	if (!report.bssids.empty()) {
		auto list = buf.array("bssid");
		for (const Mac &m : report.bssids)
			if (!mac_is_zero(m.data()))
				buf.add(nullptr, mac_text(m.data()));
	}
}

std::optional<ChannelList> decode_channels(const blob_attr *table)
{
	static const std::array<blobmsg_policy, 1> top = {{{"scan", BLOBMSG_TYPE_ARRAY}}};
	static const std::array<blobmsg_policy, 9> rec = {{
		{"type", BLOBMSG_TYPE_INT16}, {"ch", BLOBMSG_TYPE_INT16}, {"int", BLOBMSG_TYPE_INT16},
		{"busy", BLOBMSG_TYPE_INT16}, {"rx", BLOBMSG_TYPE_INT16}, {"tx", BLOBMSG_TYPE_INT16},
		{"obss", BLOBMSG_TYPE_INT16}, {"nw", BLOBMSG_TYPE_INT16}, {"fcca", BLOBMSG_TYPE_INT16},
	}};
	auto tb = parse(top, table);
	auto elems = tb[0] ? elements(tb[0], BLOBMSG_TYPE_TABLE) : std::nullopt;
	if (!elems || elems->empty())
		return std::nullopt;
	ChannelList list;
	list.reserve(std::min(elems->size(), max_channel_records));
	for (Attr e : *elems) {
		if (list.size() >= max_channel_records)
			break;
		auto f = parse(rec, e);
		if (!f[1] || !f[2] || !u16(f[1]) || !u16(f[2]))
			continue;
		list.push_back({u16(f[0]), u16(f[2]), u16(f[1]), u16(f[3]), u16(f[5]), u16(f[4]), u16(f[6]), u16(f[7]),
				u16(f[8])});
	}
	return list;
}

namespace {

std::optional<zev_wifi_bss> decode_bss_entry(Attr e)
{
	static const std::array<blobmsg_policy, 7> rec = {{
		{"ch", BLOBMSG_TYPE_INT16}, {"ssid", BLOBMSG_TYPE_STRING}, {"bssid", BLOBMSG_TYPE_STRING},
		{"rssi", BLOBMSG_TYPE_INT16}, {"bw", BLOBMSG_TYPE_INT16}, {"util", BLOBMSG_TYPE_INT16},
		{"sta", BLOBMSG_TYPE_INT16},
	}};
	auto f = parse(rec, e);
	auto mac = mac_of(f[2]);
	if (!f[0] || !u16(f[0]) || !mac)
		return std::nullopt;
	zev_wifi_bss b{};
	b.channel = u16(f[0]);
	std::copy(mac->begin(), mac->end(), b.bssid);
	if (f[1]) {
		std::string_view ssid = blobmsg_get_string(f[1]);
		ssid.substr(0, sizeof b.ssid - 1).copy(b.ssid, sizeof b.ssid - 1);
	}
	b.rssi = s16(f[3]);
	if (b.rssi < weakest_rssi)
		return std::nullopt;
	b.qbss = 1;
	b.bw = u16(f[4]);
	b.ch_util = static_cast<uint8_t>(u16(f[5]));
	b.sta_num = u16(f[6]);
	return b;
}

} // namespace

std::optional<BssList> decode_bss(const blob_attr *table)
{
	static const std::array<blobmsg_policy, 1> top = {{{"scan", BLOBMSG_TYPE_ARRAY}}};
	auto tb = parse(top, table);
	auto elems = tb[0] ? elements(tb[0], BLOBMSG_TYPE_TABLE) : std::nullopt;
	if (!elems)
		return std::nullopt;
	BssList list;
	list.reserve(std::min(elems->size(), max_bss_entries));
	for (Attr e : *elems) {
		if (list.size() >= max_bss_entries)
			break;
		if (auto b = decode_bss_entry(e))
			list.push_back(*b);
	}
	return list;
}

namespace {

std::optional<zev_wifi_sta> decode_station(Attr e)
{
	static const std::array<blobmsg_policy, 6> rec = {{
		{"mac", BLOBMSG_TYPE_STRING}, {"phy", BLOBMSG_TYPE_INT16}, {"mcs", BLOBMSG_TYPE_INT16},
		{"bw", BLOBMSG_TYPE_INT16}, {"rssi", BLOBMSG_TYPE_INT16}, {"time", BLOBMSG_TYPE_INT32},
	}};
	auto f = parse(rec, e);
	auto mac = mac_of(f[0]);
	if (!mac)
		return std::nullopt;
	zev_wifi_sta s{};
	std::copy(mac->begin(), mac->end(), s.mac);
	s.phy_mode = static_cast<uint8_t>(u16(f[1]));
	s.mcs = static_cast<uint8_t>(u16(f[2]));
	s.bw = static_cast<uint8_t>(u16(f[3]));
	s.rssi[0] = s16(f[4]);
	s.connected_time = f[5] ? blobmsg_get_u32(f[5]) : 0;
	return s;
}

} // namespace

std::optional<RadioReport> decode_radio(const blob_attr *table)
{
	static const std::array<blobmsg_policy, 4> top = {{
		{"ch", BLOBMSG_TYPE_INT16}, {"pwr", BLOBMSG_TYPE_INT16},
		{"sta", BLOBMSG_TYPE_ARRAY}, {"bssid", BLOBMSG_TYPE_ARRAY},
	}};
	auto tb = parse(top, table);
	auto stas = tb[2] ? elements(tb[2], BLOBMSG_TYPE_TABLE) : std::vector<Attr>{};
	auto macs = tb[3] ? elements(tb[3], BLOBMSG_TYPE_STRING) : std::vector<Attr>{};
	if (!stas || !macs)
		return std::nullopt;
	RadioReport r;
	int ch = u16(tb[0]);
	r.channel = ch <= 255 ? ch : 0; // anything else is not a channel
	r.power = tb[1] ? std::max(s16(tb[1]), unknown_power) : unknown_power;
	for (Attr m : *macs) {
		if (r.bssids.size() >= max_radio_bssids)
			break;
		if (auto mac = mac_of(m))
			r.bssids.push_back(*mac);
	}
	for (Attr e : *stas) {
		if (r.stations.size() >= max_stations)
			break;
		if (auto s = decode_station(e))
			r.stations.push_back(*s);
	}
	return r;
}

} // namespace rrm
