// The channel selection policies on crafted surveys.
#include <gtest/gtest.h>

#include <wlc/log.h>

#include <cstdlib>
#include <cstring>

#include "acs_select.h"
#include "harness.h"

namespace {

using vigil::AcsInput;
using vigil::AcsPolicy;
using vigil::BandKind;

zev_wifi_chan_stats survey(int ch, uint32_t busy = 100, uint32_t false_cca = 10)
{
	zev_wifi_chan_stats s = {};
	s.type = 1;
	s.interval = 10;
	s.channel = static_cast<uint32_t>(ch);
	s.busy_time = busy;
	s.false_cca = false_cca;
	return s;
}

zev_wifi_bss bss(int ch, int rssi, int bw = 20)
{
	zev_wifi_bss b = {};
	std::strcpy(b.ssid, "n");
	b.channel = static_cast<uint32_t>(ch);
	b.rssi = rssi;
	b.bw = static_cast<uint32_t>(bw);
	return b;
}

// The 5 GHz groups of 36-64 (as the device's channel file has them).
vigil::ChannelGroups groups5()
{
	vigil::ChannelGroups g;
	const int all[8] = {36, 40, 44, 48, 52, 56, 60, 64};
	for (int i = 0; i < 8; i++) {
		vigil::ChannelGroup c;
		c.partner40 = all[i ^ 1];
		int q = i / 4 * 4, k = 0;
		for (int j = q; j < q + 4; j++)
			if (j != i)
				c.partners80[static_cast<size_t>(k++)] = all[j];
		k = 0;
		for (int j = 0; j < 8; j++)
			if (j != i)
				c.partners160[static_cast<size_t>(k++)] = all[j];
		g[all[i]] = c;
	}
	return g;
}

AcsInput input(AcsPolicy p, BandKind kind, int bw, std::vector<zev_wifi_chan_stats> s, std::vector<zev_wifi_bss> b = {},
	       std::vector<int> skip = {})
{
	return AcsInput{p, kind, bw, std::move(s), std::move(b), std::move(skip)};
}

TEST(AcsPolicyName, ExactNamesOnly)
{
	EXPECT_EQ(vigil::acs_policy("noise"), AcsPolicy::Noise);
	EXPECT_EQ(vigil::acs_policy("ap-count"), AcsPolicy::ApCount);
	EXPECT_EQ(vigil::acs_policy("qbss"), AcsPolicy::Busy);
	EXPECT_FALSE(vigil::acs_policy("Noise"));
	EXPECT_FALSE(vigil::acs_policy("QBSS"));
	EXPECT_FALSE(vigil::acs_policy(""));
}

TEST(AcsNoise, RssiWeights)
{
	// -50 weighs 90, -51 80: the channel with the weaker neighbour wins.
	auto g = groups5();
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Noise, BandKind::Groups, 20, {survey(36), survey(40)},
					  {bss(36, -50), bss(40, -51)}), g), 40);
	// -79 weighs 80, -80 70.
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Noise, BandKind::Groups, 20, {survey(36), survey(40)},
					  {bss(36, -79), bss(40, -80)}), g), 40);
	// -51 and -79 weigh the same: the first of equals stays.
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Noise, BandKind::Groups, 20, {survey(36), survey(40)},
					  {bss(36, -51), bss(40, -79)}), g), 36);
}

TEST(AcsNoise, HighFalseCcaOnlyWhenNothingElse)
{
	auto g = groups5();
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Noise, BandKind::Groups, 20, {survey(36, 100, 500), survey(40)},
					  {bss(40, -40), bss(40, -40)}), g), 40);
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Noise, BandKind::Groups, 20,
					  {survey(36, 100, 500), survey(40, 100, 300)}), g), 40);
}

TEST(AcsNoise, BondedGroupsAddPartnersNotNeighbouringChannelNumbers)
{
	auto g = groups5();
	// 38 is heard twice (180), 44 once (90), 36 not at all. At 20 MHz no
	// channel has partners: 36 is the cleanest, though 38 is two numbers away.
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Noise, BandKind::Groups, 20, {survey(36), survey(38), survey(44)},
					  {bss(38, -40), bss(38, -40), bss(44, -40)}), g), 36);
	// The same among channels whose false CCA is high.
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Noise, BandKind::Groups, 20,
					  {survey(36, 100, 200), survey(38, 100, 200), survey(44, 100, 200)},
					  {bss(38, -40), bss(38, -40), bss(44, -40)}), g), 36);
	// At 40 MHz the partner's score counts: 36 pairs with 40 (two BSSs), 44
	// with 48 (none) and its own one BSS.
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Noise, BandKind::Groups, 40,
					  {survey(36), survey(40), survey(44), survey(48)},
					  {bss(40, -40), bss(40, -40), bss(44, -40)}), g), 44);
}

TEST(AcsNoise, SecondaryStaysInsideTheBand)
{
	vigil::ChannelGroups none;
	// Channel 11 is the quietest; its secondary can only lie below (7).
	auto r = vigil::acs_select(input(AcsPolicy::Noise, BandKind::Overlap, 40,
					 {survey(1), survey(6), survey(11)}, {bss(1, -40), bss(6, -40)}), none);
	EXPECT_EQ(r, -11);
	// Channel 3's secondary can only lie above (7).
	r = vigil::acs_select(input(AcsPolicy::Noise, BandKind::Overlap, 40, {survey(3), survey(11)},
				    {bss(11, -40), bss(11, -40)}), none);
	EXPECT_EQ(r, 3);
	// 5 can take 1 or 9 as its secondary; with 1 on the skip list it takes 9.
	r = vigil::acs_select(input(AcsPolicy::Noise, BandKind::Overlap, 40, {survey(5), survey(13)}, {bss(13, -40)}),
			      none);
	EXPECT_EQ(r, -5);
	r = vigil::acs_select(input(AcsPolicy::Noise, BandKind::Overlap, 40, {survey(5), survey(13)}, {bss(13, -40)},
				    {1}), none);
	EXPECT_EQ(r, 5);
}

TEST(AcsApCount, FirstUnheardChannelWins)
{
	vigil::ChannelGroups none;
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::ApCount, BandKind::Overlap, 20,
					  {survey(1), survey(6), survey(11)}, {bss(1, -60)}), none), 6);
	// At 40 MHz the secondary goes above...
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::ApCount, BandKind::Overlap, 40,
					  {survey(1), survey(6), survey(11)}, {bss(1, -60)}), none), 6);
	// ...unless that leaves the band.
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::ApCount, BandKind::Overlap, 40, {survey(1), survey(11)},
					  {bss(1, -60)}), none), -11);
}

TEST(AcsApCount, TheUnheardWinnerIsLoggedAsUnusedOnly)
{
	wlctest::TempRoot root;
	std::string log = root.path() + "/log";
	setenv("WLC_LOG_FILE", log.c_str(), 1);
	wlc::log_open("vigil");
	vigil::ChannelGroups none;
	// 40 MHz: 6 takes its secondary above, 11 below; neither is a choice of
	// its own, so only the unused channel is told.
	int six = vigil::acs_select(input(AcsPolicy::ApCount, BandKind::Overlap, 40, {survey(1), survey(6), survey(11)},
					  {bss(1, -60)}), none);
	int eleven = vigil::acs_select(input(AcsPolicy::ApCount, BandKind::Overlap, 40, {survey(1), survey(11)},
					     {bss(1, -60)}), none);
	wlc::log_close();
	unsetenv("WLC_LOG_FILE");
	EXPECT_EQ(six, 6);
	EXPECT_EQ(eleven, -11);
	std::string text = wlctest::read_text(log);
	EXPECT_NE(text.find("vigil.notice: select channel 6, which no one used\n"), std::string::npos) << text;
	EXPECT_NE(text.find("vigil.notice: select channel 11, which no one used\n"), std::string::npos) << text;
	EXPECT_EQ(text.find("select ext channel"), std::string::npos) << text;
}

TEST(AcsApCount, LeastInterferenceThenFewestAps)
{
	vigil::ChannelGroups none;
	// Every channel is used; 36 has two APs, 44 one (no neighbours within 2): 44.
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::ApCount, BandKind::Overlap, 20, {survey(36), survey(44)},
					  {bss(36, -60), bss(36, -70), bss(44, -60)}), none), 44);
}

TEST(AcsGroups, ChannelWithoutItsGroupIsNeverSelected)
{
	auto g = groups5();
	// At 80 MHz, 52's first partner (56) is not surveyed: 36 wins though busier.
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Busy, BandKind::Groups, 80,
					  {survey(36, 600), survey(40, 600), survey(44, 600), survey(48, 600), survey(52, 10)}),
				    g), 36);
	// Nothing complete at all: no selection.
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Busy, BandKind::Groups, 80, {survey(52, 10)}), g), 0);
}

TEST(AcsBusy, QuietestGroupThenItsQuietestSelectableMember)
{
	auto g = groups5();
	std::vector<zev_wifi_chan_stats> s = {survey(36, 500), survey(40, 500), survey(44, 500), survey(48, 500),
					      survey(52, 100), survey(56, 200), survey(60, 50), survey(64, 150)};
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Busy, BandKind::Groups, 80, s), g), 60);
	// 60 is on the skip list: the walk does not move there.
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Busy, BandKind::Groups, 80, s, {}, {60}), g), 52);
	// 2.4 GHz: the least busy channel.
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Busy, BandKind::Overlap, 20, {survey(1, 300), survey(6, 200),
											  survey(11, 250)}), {}), 6);
}

TEST(AcsSkip, SkippedChannelsAreNeverSelectedNotEvenAtRandom)
{
	auto g = groups5();
	// Every used channel scores above 32 at 80 MHz (30 + 3 partners): random choice.
	std::vector<zev_wifi_chan_stats> s = {survey(36), survey(40), survey(44), survey(48)};
	std::vector<zev_wifi_bss> b = {bss(36, -60), bss(40, -60), bss(44, -60), bss(48, -60)};
	for (int i = 0; i < 20; i++) {
		int r = vigil::acs_select(input(AcsPolicy::ApCount, BandKind::Groups, 80, s, b, {36, 44, 48}), g);
		EXPECT_EQ(r, 40);
	}
	EXPECT_EQ(vigil::acs_select(input(AcsPolicy::Busy, BandKind::Groups, 20, s, {}, {36, 40, 44, 48}), g), 0);
}

} // namespace
