// Encoding compact reports straight from their blocks, each element through
// the codec's entry writers, so that they read as the decoded records would.
#include "packed.h"

namespace rrm {

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
		if (r.interval && r.channel)
			encode_entry(buf, ChannelEntry{r.type, r.channel, r.interval, r.busy, r.rx, r.tx, r.obss,
						       r.non_wifi, r.false_cca});
	}
}

void PackedReport::encode_bss(wlc::BlobBuf &buf, const BssNames &names) const
{
	auto scan = buf.array("scan");
	for (size_t i = 0; i < count_; i++) {
		const Bss &b = items<Bss>()[i];
		const BssNames::Name &n = names.at(b.name);
		if (b.channel && !mac_is_zero(n.bssid.data()))
			encode_entry(buf, BssEntry{b.channel, std::string_view(n.ssid, n.ssid_len), names.bssid_text(b.name),
						   b.rssi, b.bw, b.util, b.sta, b.qbss != 0});
	}
}

void PackedReport::encode_radio(wlc::BlobBuf &buf, const BssNames &names) const
{
	if (channel_ != 0)
		buf.add_u16("ch", static_cast<uint16_t>(channel_));
	if (power_ > unknown_power)
		buf.add_u16("pwr", static_cast<uint16_t>(power_));
	if (count_ > 0) {
		auto sta = buf.array("sta");
		for (size_t i = 0; i < count_; i++) {
			const Station &s = items<Station>()[i];
			if (!mac_is_zero(s.mac))
				encode_entry(buf, StationEntry{mac_text(s.mac), s.phy, s.mcs, s.bw, s.rssi, s.time});
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
