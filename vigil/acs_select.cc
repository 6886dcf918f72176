// Building the candidates of a channel selection.
#include "acs_select.h"

#include <fsroot/fsroot.h>

#include <json-c/json.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "acs_candidates.h"

namespace vigil {

namespace {

struct JsonFree {
	void operator()(json_object *o) const noexcept { json_object_put(o); }
};

// The highest channel of the overlapping band a 40 MHz secondary may use.
constexpr int kOverlapLastChannel = 13;

template <size_t N>
void read_slots(json_object *entry, const char *key, int own, std::array<int, N> &slots)
{
	json_object *arr;
	if (!json_object_object_get_ex(entry, key, &arr) || !json_object_is_type(arr, json_type_array))
		return;
	size_t n = std::min(N, json_object_array_length(arr));
	for (size_t i = 0; i < n; i++) {
		int ch = json_object_get_int(json_object_array_get_idx(arr, i));
		slots[i] = ch == own ? 0 : ch;
	}
}

bool skipped_channel(const std::vector<int> &skip, int channel)
{
	return std::find(skip.begin(), skip.end(), channel) != skip.end();
}

// The index of the candidate with this channel, -1 for an empty slot or one not surveyed.
int slot_index(const acs::Set &s, int channel)
{
	return channel ? s.first_with_channel(channel) : -1;
}

void fill_partners(acs::Set &s, const ChannelGroups &groups)
{
	for (acs::Candidate &k : s.c) {
		auto it = groups.find(k.channel);
		if (it == groups.end())
			continue;
		k.partner40 = slot_index(s, it->second.partner40);
		for (size_t i = 0; i < 3; i++)
			k.partners80[i] = slot_index(s, it->second.partners80[i]);
		for (size_t i = 0; i < 7; i++)
			k.partners160[i] = slot_index(s, it->second.partners160[i]);
	}
}

// A bonded channel needs the group its width spans; a 40 MHz channel on the
// overlapping band needs a secondary inside the band.
void skip_incomplete(acs::Set &s)
{
	int bw = s.in.bw;
	for (acs::Candidate &k : s.c) {
		if (k.skip)
			continue;
		if (!s.overlap()) {
			k.skip = (bw == 40 && k.partner40 < 0) || (bw == 80 && k.partners80[0] < 0) ||
				 ((bw == 160 || bw == 161) && k.partners160[0] < 0);
		} else if (bw > 20) {
			k.skip = !secondary_valid(k.channel, k.channel + 4, s.in.skip) &&
				 !secondary_valid(k.channel, k.channel - 4, s.in.skip);
		}
	}
}

// A 40 MHz channel on the overlapping band keeps its secondary inside the
// band and off the skip list, whichever side the policy asked for.
int inside_band(const acs::Set &s, int r)
{
	if (!s.overlap() || s.in.bw <= 20 || r == 0)
		return r;
	int ch = r > 0 ? r : -r;
	if (r > 0 && !secondary_valid(ch, ch + 4, s.in.skip) && secondary_valid(ch, ch - 4, s.in.skip))
		return -ch;
	if (r < 0 && !secondary_valid(ch, ch - 4, s.in.skip) && secondary_valid(ch, ch + 4, s.in.skip))
		return ch;
	return r;
}

} // namespace

std::optional<AcsPolicy> acs_policy(std::string_view name)
{
	if (name == "noise")
		return AcsPolicy::Noise;
	if (name == "ap-count")
		return AcsPolicy::ApCount;
	if (name == "qbss")
		return AcsPolicy::Busy;
	return std::nullopt;
}

BandKind band_kind(int band, int channel)
{
	if (band == 1)
		return BandKind::Overlap;
	if (band == 2)
		return channel <= 14 ? BandKind::Overlap : BandKind::Groups;
	return BandKind::Groups;
}

std::optional<ChannelGroups> read_channel_groups()
{
	std::unique_ptr<json_object, JsonFree> root(
		json_object_from_file(wlc::root_path("/etc/channels.json").c_str()));
	if (!root || !json_object_is_type(root.get(), json_type_object))
		return std::nullopt;
	ChannelGroups groups;
	json_object_object_foreach(root.get(), key, entry) {
		char *end;
		long ch = std::strtol(key, &end, 10);
		if (*end || ch < 1 || ch > 255 || !json_object_is_type(entry, json_type_object))
			continue;
		ChannelGroup g;
		std::array<int, 1> p40 = {};
		read_slots(entry, "40", static_cast<int>(ch), p40);
		g.partner40 = p40[0];
		read_slots(entry, "80", static_cast<int>(ch), g.partners80);
		read_slots(entry, "160", static_cast<int>(ch), g.partners160);
		groups[static_cast<int>(ch)] = g;
	}
	return groups;
}

bool secondary_valid(int channel, int secondary, const std::vector<int> &skip)
{
	(void)channel;
	return secondary >= 1 && secondary <= kOverlapLastChannel && !skipped_channel(skip, secondary);
}

namespace acs {

std::vector<int> Set::partners(const Candidate &k) const
{
	std::vector<int> out;
	if (in.bw == 40 && k.partner40 >= 0)
		out.push_back(k.partner40);
	if (in.bw == 80)
		for (int p : k.partners80)
			if (p >= 0)
				out.push_back(p);
	if (in.bw == 160 || in.bw == 161)
		for (int p : k.partners160)
			if (p >= 0)
				out.push_back(p);
	return out;
}

size_t Set::skipped() const
{
	return static_cast<size_t>(std::count_if(c.begin(), c.end(), [](const Candidate &k) { return k.skip; }));
}

int Set::first_with_channel(int channel) const
{
	for (size_t i = 0; i < c.size(); i++)
		if (c[i].channel == channel)
			return static_cast<int>(i);
	return -1;
}

} // namespace acs

int acs_select(const AcsInput &in, const ChannelGroups &groups)
{
	acs::Set s{in, {}};
	for (const zev_wifi_chan_stats &st : in.surveys) {
		acs::Candidate k;
		k.survey = st;
		k.channel = static_cast<int>(st.channel);
		k.skip = skipped_channel(in.skip, k.channel);
		s.c.push_back(k);
	}
	fill_partners(s, groups);
	skip_incomplete(s);
	if (s.skipped() == s.c.size())
		return 0;
	for (const zev_wifi_bss &b : in.bss) {
		int i = s.first_with_channel(static_cast<int>(b.channel));
		if (i >= 0)
			s.c[static_cast<size_t>(i)].ap_count++;
	}
	int r = 0;
	switch (in.policy) {
	case AcsPolicy::Noise:
		r = acs::noise_policy(s);
		break;
	case AcsPolicy::ApCount:
		r = acs::ap_count_policy(s);
		break;
	case AcsPolicy::Busy:
		r = acs::busy_policy(s);
		break;
	}
	return inside_band(s, r);
}

} // namespace vigil
