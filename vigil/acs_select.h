// Channel selection: scores the surveyed channels with one of three
// policies and picks the least disturbed one.
#pragma once

#include <zev/wifi.h>

#include <array>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vigil {

enum class AcsPolicy { Noise = 0, ApCount = 1, Busy = 2 };
[[nodiscard]] std::optional<AcsPolicy> acs_policy(std::string_view name);

// How a band's channels relate: overlapping neighbours (2.4 GHz) or bonded
// groups from the channel file (5 GHz).
enum class BandKind { Overlap, Groups };
// The board's band number as a kind. Band numbers come as 1/2 (2.4/5 GHz)
// or as 2/5 (GHz): 1 and 5 are clear, 2 is told apart by the channel in use.
[[nodiscard]] BandKind band_kind(int band, int channel);

// The bonded groups of a channel as the channel file lists them (0 = empty slot).
struct ChannelGroup {
	int partner40 = 0;
	std::array<int, 3> partners80 = {};
	std::array<int, 7> partners160 = {};
};
using ChannelGroups = std::map<int, ChannelGroup>;
// Reads /etc/channels.json; nullopt when it cannot be read.
[[nodiscard]] std::optional<ChannelGroups> read_channel_groups();

struct AcsInput {
	AcsPolicy policy = AcsPolicy::Noise;
	BandKind kind = BandKind::Overlap;
	int bw = 20;
	std::vector<zev_wifi_chan_stats> surveys;
	std::vector<zev_wifi_bss> bss;
	std::vector<int> skip;
};

// The channel to use: positive, or negated when the secondary channel lies
// below it; 0 when nothing can be selected.
[[nodiscard]] int acs_select(const AcsInput &in, const ChannelGroups &groups);

// On the overlapping band at 40 MHz, whether a secondary channel is possible.
[[nodiscard]] bool secondary_valid(int channel, int secondary, const std::vector<int> &skip);

} // namespace vigil
