// PHY rates of stations, from the 802.11ac (VHT) and 802.11ax (HE)
// single-stream rate rules.
#include <zev/wifi.h>

#include <array>
#include <cmath>

namespace {

struct Modulation {
	int bits;   // coded bits per subcarrier
	double rate; // coding rate
};

// MCS 0..11: BPSK 1/2 up to 1024-QAM 5/6.
constexpr std::array<Modulation, 12> kMcs = {{
	{1, 1.0 / 2}, {2, 1.0 / 2}, {2, 3.0 / 4}, {4, 1.0 / 2}, {4, 3.0 / 4}, {6, 2.0 / 3},
	{6, 3.0 / 4}, {6, 5.0 / 6}, {8, 3.0 / 4}, {8, 5.0 / 6}, {10, 3.0 / 4}, {10, 5.0 / 6},
}};

float round1(double mbps)
{
	return static_cast<float>(std::round(mbps * 10) / 10);
}

using VhtTable = std::array<std::array<float, 8>, 12>;
using HeTable = std::array<std::array<float, 12>, 12>;

// Data subcarriers × bits × coding rate / symbol time, for 20/40/80/160 MHz
// and long (4.0 µs) or short (3.6 µs) guard interval.
VhtTable make_vht()
{
	constexpr int kSubcarriers[4] = {52, 108, 234, 468};
	constexpr double kSymbol[2] = {4.0, 3.6};
	VhtTable t{};
	for (size_t m = 0; m < 12; m++)
		for (size_t w = 0; w < 4; w++)
			for (size_t gi = 0; gi < 2; gi++)
				t[m][w * 2 + gi] = round1(kSubcarriers[w] * kMcs[m].bits * kMcs[m].rate / kSymbol[gi]);
	// The published 802.11ac table gives these two 20 MHz short-GI entries
	// truncated (96.29 and 120.37); reports are compared against it.
	t[9][1] = 96.2f;
	t[11][1] = 120.3f;
	return t;
}

// HE SU: 12.8 µs symbols plus a 0.8, 1.6 or 3.2 µs guard interval.
HeTable make_he()
{
	constexpr int kSubcarriers[4] = {234, 468, 980, 1960};
	constexpr double kSymbol[3] = {13.6, 14.4, 16.0};
	HeTable t{};
	for (size_t m = 0; m < 12; m++)
		for (size_t w = 0; w < 4; w++)
			for (size_t gi = 0; gi < 3; gi++)
				t[m][w * 3 + gi] = round1(kSubcarriers[w] * kMcs[m].bits * kMcs[m].rate / kSymbol[gi]);
	return t;
}

const VhtTable &vht_table()
{
	static const VhtTable t = make_vht();
	return t;
}

const HeTable &he_table()
{
	static const HeTable t = make_he();
	return t;
}

int width_index(uint8_t bw)
{
	switch (bw) {
	case 40: return 1;
	case 80: return 2;
	case 160: return 3;
	default: return 0;
	}
}

} // namespace

extern "C" {

float zev_wifi_sta_rate(const zev_wifi_sta *sta)
{
	static constexpr float kCck[] = {1, 2, 5.5f, 11, 22, 33};
	static constexpr float kOfdm[] = {6, 9, 12, 18, 24, 36, 48, 54};
	switch (sta->phy_mode) {
	case ZEV_PHY_CCK:
		return sta->mcs < 6 ? kCck[sta->mcs] : 0;
	case ZEV_PHY_OFDM:
		return sta->mcs < 8 ? kOfdm[sta->mcs] : 0;
	case ZEV_PHY_HT_MIX:
	case ZEV_PHY_HT_GF:
	case ZEV_PHY_VHT: {
		int column = sta->sgi + 2 * width_index(sta->bw);
		if (sta->mcs > 11 || column > 7)
			return 0;
		return static_cast<float>(sta->nss) * vht_table()[sta->mcs][static_cast<size_t>(column)];
	}
	case ZEV_PHY_HE: {
		int column = sta->sgi + 3 * width_index(sta->bw);
		if (sta->mcs > 11 || column > 11)
			return 0;
		return static_cast<float>(sta->nss) * he_table()[sta->mcs][static_cast<size_t>(column)];
	}
	default:
		return 0;
	}
}

} // extern "C"
