// Encoding compact reports straight from their blocks: the same members, in
// the same order, as the codec's encoders write for the decoded records.
#include "packed.h"

namespace rrm {

namespace {

void add_if(wlc::BlobBuf &buf, const char *name, uint32_t value, bool when)
{
	if (when)
		buf.add_u16(name, static_cast<uint16_t>(value));
}

} // namespace

void PackedReport::encode(wlc::BlobBuf &buf, const BssNames &names) const
{
	if (kind_ == 0)
		encode_channels(buf);
	else if (kind_ == 1)
		encode_bss(buf, names);
	else
		encode_radio(buf, names);
}

void PackedReport::encode_channels(wlc::BlobBuf &buf) const
{
	auto scan = buf.array("scan");
	for (size_t i = 0; i < count_; i++) {
		const Channel &r = items<Channel>()[i];
		if (!r.interval || !r.channel)
			continue;
		auto t = buf.table();
		add_if(buf, "type", r.type, r.type <= 1);
		buf.add_u16("ch", r.channel);
		buf.add_u16("int", r.interval);
		add_if(buf, "busy", r.busy, r.busy != 0);
		add_if(buf, "rx", r.rx, r.rx != 0);
		add_if(buf, "tx", r.tx, r.tx != 0);
		add_if(buf, "obss", r.obss, r.obss != 0);
		add_if(buf, "nw", r.non_wifi, r.non_wifi != 0);
		add_if(buf, "fcca", r.false_cca, r.false_cca != 0);
	}
}

void PackedReport::encode_bss(wlc::BlobBuf &buf, const BssNames &names) const
{
	auto scan = buf.array("scan");
	for (size_t i = 0; i < count_; i++) {
		const Bss &b = items<Bss>()[i];
		const BssNames::Name &n = names.at(b.name);
		if (!b.channel || mac_is_zero(n.bssid.data()))
			continue;
		auto t = buf.table();
		buf.add_u16("ch", b.channel);
		if (n.ssid_len)
			buf.add("ssid", std::string_view(n.ssid, n.ssid_len));
		buf.add("bssid", names.bssid_text(b.name));
		add_if(buf, "rssi", static_cast<uint32_t>(b.rssi), b.rssi != 0);
		add_if(buf, "bw", b.bw, b.bw != 0);
		add_if(buf, "util", b.util, b.qbss && b.util);
		add_if(buf, "sta", b.sta, b.qbss && b.sta);
	}
}

void PackedReport::encode_radio(wlc::BlobBuf &buf, const BssNames &names) const
{
	add_if(buf, "ch", static_cast<uint32_t>(channel_), channel_ != 0);
	add_if(buf, "pwr", static_cast<uint32_t>(power_), power_ > unknown_power);
	if (count_ > 0) {
		auto sta = buf.array("sta");
		for (size_t i = 0; i < count_; i++) {
			const Station &s = items<Station>()[i];
			if (mac_is_zero(s.mac))
				continue;
			auto t = buf.table();
			buf.add("mac", mac_text(s.mac));
			add_if(buf, "phy", s.phy, s.phy);
			add_if(buf, "mcs", s.mcs, s.mcs);
			add_if(buf, "bw", s.bw, s.bw);
			add_if(buf, "rssi", static_cast<uint32_t>(s.rssi), s.rssi != 0);
			if (s.time)
				buf.add_u32("time", s.time);
		}
	}
	if (bssids_ > 0) {
		auto list = buf.array("bssid");
		for (size_t i = 0; i < bssids_; i++) {
			uint32_t ref = bssid_refs()[i];
			if (!mac_is_zero(names.at(ref).bssid.data()))
				buf.add(nullptr, names.bssid_text(ref));
		}
	}
}

} // namespace rrm
