// Building driver event datagrams byte for byte.
#include "events.h"

#include <cstring>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>

namespace sim::events {

namespace {

constexpr uint16_t kIwevCustom = 0x8C02;
constexpr size_t kStationPayload = 96;
constexpr size_t kChanStatsPayload = 72;
constexpr size_t kBssPayload = 92;

void le16(Bytes &b, size_t at, uint16_t v)
{
	b[at] = static_cast<uint8_t>(v);
	b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void le32(Bytes &b, size_t at, uint32_t v)
{
	for (int i = 0; i < 4; i++)
		b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
}

size_t align4(size_t n)
{
	return (n + 3) & ~size_t(3);
}

} // namespace

Bytes link_message(int ifindex, uint16_t event_id, const Bytes &payload)
{
	size_t event_len = 16 + payload.size();
	size_t attr_len = 4 + event_len;
	size_t msg_len = 16 + 16 + align4(attr_len);
	Bytes m(msg_len, 0);
	// netlink header
	le32(m, 0, static_cast<uint32_t>(msg_len));
	le16(m, 4, RTM_NEWLINK);
	// interface info: family, type, index, flags, change
	le32(m, 16 + 4, static_cast<uint32_t>(ifindex));
	// IFLA_WIRELESS attribute
	le16(m, 32, static_cast<uint16_t>(attr_len));
	le16(m, 34, IFLA_WIRELESS);
	// the wireless event: length, command, then payload length and flags (the event id) at 8
	size_t ev = 36;
	le16(m, ev, static_cast<uint16_t>(event_len));
	le16(m, ev + 2, kIwevCustom);
	le16(m, ev + 8, static_cast<uint16_t>(payload.size()));
	le16(m, ev + 10, event_id);
	std::memcpy(m.data() + ev + 16, payload.data(), payload.size());
	return m;
}

Bytes sta_join(int ifindex, const Station &sta, bool moved)
{
	Bytes p(kStationPayload, 0);
	p[1] = 8;
	le32(p, 2, static_cast<uint32_t>(ifindex));
	std::memcpy(p.data() + 6, sta.mac.data(), 6);
	le16(p, 12, sta.aid);
	le32(p, 14, (sta.cap_11r ? 1u : 0u) | (sta.cap_11k ? 2u : 0u) | (sta.cap_11v ? 4u : 0u));
	p[25] = static_cast<uint8_t>(sta.rssi);
	p[90] = moved ? 1 : 0;
	return link_message(ifindex, kStation, p);
}

Bytes sta_leave(int ifindex, const Mac &mac, uint16_t reason)
{
	Bytes p(kStationPayload, 0);
	p[1] = 9;
	le32(p, 2, static_cast<uint32_t>(ifindex));
	std::memcpy(p.data() + 6, mac.data(), 6);
	le16(p, 88, reason);
	return link_message(ifindex, kStation, p);
}

Bytes chan_stats(int ifindex, int channel, const ChannelLoad &load, uint16_t samples)
{
	Bytes p(kChanStatsPayload, 0);
	p[37] = static_cast<uint8_t>(channel);
	// Each sample covers 1000 units of time; the sums run over all samples.
	uint32_t busy = load.busy * 10 * samples;
	uint32_t tx = busy / 4, rx = busy / 2, obss = busy / 8;
	le32(p, 43, rx);
	le32(p, 47, tx);
	le32(p, 51, obss);
	le32(p, 55, load.non_wifi * 10 * samples);
	le32(p, 59, busy);
	le16(p, 64, samples);
	le32(p, 66, load.false_cca * samples);
	return link_message(ifindex, kChanStats, p);
}

Bytes bss(int ifindex, const HeardBss &b)
{
	Bytes p(kBssPayload, 0);
	std::memcpy(p.data() + 37, b.ssid.data(), std::min<size_t>(b.ssid.size(), 32));
	p[70] = static_cast<uint8_t>(b.rssi);
	std::memcpy(p.data() + 71, b.bssid.data(), 6);
	p[77] = static_cast<uint8_t>(b.channel);
	le16(p, 78, static_cast<uint16_t>(b.width));
	le16(p, 80, 100);
	p[82] = 0;
	p[83] = 2;
	if (b.qbss) {
		p[84] = 1;
		p[85] = b.ch_util;
		le16(p, 86, b.sta_num);
		le16(p, 88, b.adm_cap);
	}
	return link_message(ifindex, kBss, p);
}

} // namespace sim::events
