// The site-wide plans as pure functions, on small hand-made sites whose best
// plan is known: the search, the choice of APs that do not hear each other,
// the cap per step, the least gain, the power moves and the overlap by
// channel width.
#include <gtest/gtest.h>

#include <map>

#include "ctrl/site_plan.h"
#include "ctrl/site_schedule.h"

namespace {

using namespace rrm;

const std::vector<int> channels_1_6_11 = {1, 6, 11};

// A site built straight into the model: each AP's channel and power, and who
// hears whom at what level.
struct Site {
	std::map<std::string, RadioReport> radios;
	std::map<std::pair<std::string, std::string>, int> rssi; // (observer, target)

	static Mac bssid(const std::string &id)
	{
		return {2, static_cast<uint8_t>(id.size()), static_cast<uint8_t>(id[0]), static_cast<uint8_t>(id[id.size() / 2]),
			static_cast<uint8_t>(id.back()), 0};
	}
	void ap(const std::string &id, int channel, int power = 20) { radios[id] = {channel, power, {}, {bssid(id)}}; }
	void hear_one_way(const std::string &observer, const std::string &target, int level) { rssi[{observer, target}] = level; }
	void hear(const std::string &a, const std::string &b, int level)
	{
		hear_one_way(a, b, level);
		hear_one_way(b, a, level);
	}
	void apply(const std::vector<Move> &moves)
	{
		for (const Move &m : moves)
			radios.at(m.id).channel = m.value;
	}
	// What every AP hears now, as the model takes it.
	Model model(const std::vector<int> &channels = channels_1_6_11, Overlap overlap = {}) const
	{
		std::map<std::string, BssList> heard;
		for (const auto &[pair, level] : rssi) {
			zev_wifi_bss b{};
			Mac m = bssid(pair.second);
			std::copy(m.begin(), m.end(), b.bssid);
			b.channel = static_cast<uint32_t>(radios.at(pair.second).channel);
			b.rssi = level;
			heard[pair.first].push_back(b);
		}
		std::vector<ModelInput> in;
		for (const auto &[id, radio] : radios)
			in.push_back({id, &radio, &heard[id]});
		return *build_model(in, channels, 1000, 0, overlap);
	}
};

std::map<std::string, int> planned_channels(const Model &m, const SiteGraph &g, const SitePlan &p)
{
	std::map<std::string, int> out;
	for (size_t n = 0; n < m.nodes.size(); n++)
		out[m.nodes[n].id] = g.channel(p.values[n]);
	return out;
}

SitePlan plan_of(const Model &m, const SiteGraph &g, const Skip &skip = {})
{
	std::vector<bool> frozen(m.nodes.size(), false);
	for (size_t n = 0; n < m.nodes.size(); n++)
		frozen[n] = skip.count(m.nodes[n].id) != 0;
	return search_site(g, frozen, 1, site_restarts(m.nodes.size()));
}

// The worked case: a, b, c, d on 6; a-b -60, a-c -70, b-c -80, c-d -60.
Site worked_site()
{
	Site s;
	for (const char *id : {"a", "b", "c", "d"})
		s.ap(id, 6);
	s.hear("a", "b", -60);
	s.hear("a", "c", -70);
	s.hear("b", "c", -80);
	s.hear("c", "d", -60);
	return s;
}

TEST(RrmSitePlan, GraphPricesLikeTheModel)
{
	Site s = worked_site();
	s.ap("e", 3); // off the list: 100 on top
	s.hear("e", "d", -70);
	Model m = s.model();
	SiteGraph g(m, channels_1_6_11, {});
	EXPECT_EQ(g.total_price(g.current()).cost, m.cost);
	EXPECT_EQ(m.cost, 58u + 100u + 2u + 2u);
}

TEST(RrmSitePlan, ChainAndTriangleReachTheirBest)
{
	Site chain;
	for (const char *id : {"a", "b", "c", "d", "e"})
		chain.ap(id, 6);
	for (auto [x, y] : {std::pair{"a", "b"}, {"b", "c"}, {"c", "d"}, {"d", "e"}})
		chain.hear(x, y, -60);
	Model m = chain.model();
	SiteGraph g(m, channels_1_6_11, {});
	SitePlan p = plan_of(m, g);
	EXPECT_EQ(p.now.cost, 80);
	EXPECT_EQ(p.planned.cost, 0);
	EXPECT_EQ(g.total_price(p.values).cost, 0);

	// Three APs that all hear each other take the three channels.
	Site tri;
	for (const char *id : {"a", "b", "c"})
		tri.ap(id, 1);
	tri.hear("a", "b", -60);
	tri.hear("b", "c", -70);
	tri.hear("a", "c", -80);
	Model mt = tri.model();
	SiteGraph gt(mt, channels_1_6_11, {});
	std::map<std::string, int> got = planned_channels(mt, gt, plan_of(mt, gt));
	std::set<int> used;
	for (auto &[id, c] : got)
		used.insert(c);
	EXPECT_EQ(used, (std::set<int>{1, 6, 11}));
	// One AP keeps channel 1: the plan moves no more APs than it must.
	EXPECT_EQ(std::count_if(got.begin(), got.end(), [](auto &e) { return e.second == 1; }), 1);
}

// Four APs in a ring on two channels, each hearing one neighbour on its own
// channel and one on the other: no single move lowers the cost, so the
// single-AP plan stops at 40; moving two opposite APs together reaches 0.
TEST(RrmSitePlan, EscapesTheSingleApLocalOptimum)
{
	const std::vector<int> two = {1, 11};
	Site s;
	s.ap("a", 1);
	s.ap("b", 1);
	s.ap("c", 11);
	s.ap("d", 11);
	for (auto [x, y] : {std::pair{"a", "b"}, {"b", "c"}, {"c", "d"}, {"d", "a"}})
		s.hear(x, y, -60);
	Model m = s.model(two);
	EXPECT_EQ(m.cost, 40u);
	EXPECT_FALSE(channel_plan(m, two, Sensitivity::high));

	// Both best plans move two APs that hear each other (b and c, or a and
	// d): one per step, and after the second the ring costs nothing.
	std::vector<Move> first = site_channel_plan(m, two, {8, 0, {}});
	ASSERT_EQ(first.size(), 1u);
	s.apply(first);
	std::vector<Move> second = site_channel_plan(s.model(two), two, {8, 0, {}});
	ASSERT_EQ(second.size(), 1u);
	EXPECT_NE(second[0].id, first[0].id);
	EXPECT_TRUE(s.rssi.count({first[0].id, second[0].id})) << first[0].id << second[0].id;
	s.apply(second);
	Model done = s.model(two);
	EXPECT_EQ(done.cost, 0u);
	EXPECT_TRUE(site_channel_plan(done, two, {8, 0, {}}).empty());
}

TEST(RrmSitePlan, SameModelSamePlan)
{
	Site s;
	for (int i = 0; i < 12; i++)
		s.ap("n" + std::to_string(i), 6);
	for (int i = 0; i < 12; i++)
		for (int j = i + 1; j < 12; j++)
			if ((i * 7 + j * 3) % 4 == 0)
				s.hear("n" + std::to_string(i), "n" + std::to_string(j), -60 - (i + j) % 20);
	Model m = s.model();
	EXPECT_EQ(site_channel_plan(m, channels_1_6_11, {32, 0, {}}), site_channel_plan(m, channels_1_6_11, {32, 0, {}}));
}

TEST(RrmSitePlan, NonInterferingChoice)
{
	// x hears a, b and c; those three hear nobody else.
	Site s;
	for (const char *id : {"x", "a", "b", "c"})
		s.ap(id, 6);
	s.hear("x", "a", -60);
	s.hear("x", "b", -70);
	s.hear_one_way("c", "x", -84); // one way is enough to interfere
	Model m = s.model();
	SiteGraph g(m, channels_1_6_11, {});
	std::map<std::string, size_t> at;
	for (size_t n = 0; n < m.nodes.size(); n++)
		at[m.nodes[n].id] = n;
	auto names = [&](const std::vector<size_t> &picked) {
		std::string out;
		for (size_t n : picked)
			out += m.nodes[n].id;
		return out;
	};
	EXPECT_EQ(names(non_interfering(g, {at["x"], at["a"], at["b"], at["c"]}, 8)), "x");
	EXPECT_EQ(names(non_interfering(g, {at["a"], at["x"], at["b"], at["c"]}, 8)), "abc");
	EXPECT_EQ(names(non_interfering(g, {at["a"], at["x"], at["b"], at["c"]}, 2)), "ab");
}

// A triangle a-b-c with d hearing c and e hearing d: three colours, no two
// APs that hear each other alike, and a step sends the largest colour.
TEST(RrmSitePlan, MovesColouredIntoSteps)
{
	Site s;
	for (const char *id : {"a", "b", "c", "d", "e"})
		s.ap(id, 6);
	for (auto [x, y] : {std::pair{"a", "b"}, {"b", "c"}, {"a", "c"}, {"c", "d"}, {"d", "e"}})
		s.hear(x, y, -70);
	Model m = s.model();
	SiteGraph g(m, channels_1_6_11, {});
	std::vector<size_t> all(m.nodes.size());
	for (size_t n = 0; n < all.size(); n++)
		all[n] = n;
	std::vector<size_t> colour = colour_moves(g, all);
	EXPECT_EQ(*std::max_element(colour.begin(), colour.end()), 2u);
	for (size_t n = 0; n < all.size(); n++)
		for (const SiteEdge &e : g.edges(n))
			EXPECT_NE(colour[n], colour[e.other]) << m.nodes[n].id << " " << m.nodes[e.other].id;
	std::vector<size_t> round = next_round(g, all, 8);
	EXPECT_EQ(round.size(), 2u);
	for (size_t a : round)
		for (size_t b : round)
			for (const SiteEdge &e : g.edges(a))
				EXPECT_NE(e.other, b);
	EXPECT_EQ(next_round(g, all, 1).size(), 1u);
	EXPECT_TRUE(next_round(g, {}, 8).empty());
}

// APs that hear each other only weakly move in the same step; a pair heard
// at -75 dBm or stronger, either way, does not.
TEST(RrmSitePlan, WeakNeighboursMoveTogether)
{
	Site s;
	for (const char *id : {"a", "b", "c", "d", "e"})
		s.ap(id, 6);
	s.hear("a", "b", -80);
	s.hear("b", "c", -76);
	s.hear("a", "c", -84);
	s.hear_one_way("d", "a", -75);
	s.hear("e", "b", -90);
	Model m = s.model();
	SiteGraph g(m, channels_1_6_11, {});
	std::map<std::string, size_t> at;
	for (size_t n = 0; n < m.nodes.size(); n++)
		at[m.nodes[n].id] = n;
	std::vector<size_t> weak = {at["a"], at["b"], at["c"], at["e"]};
	EXPECT_EQ(next_round(g, weak, 8).size(), 4u);
	std::vector<size_t> colour = colour_moves(g, {at["a"], at["d"]});
	EXPECT_NE(colour[0], colour[1]);
	EXPECT_EQ(next_round(g, {at["a"], at["b"], at["d"]}, 8).size(), 2u);
}

// Pairs that hear only each other: one AP of each moves, all in one step,
// as far as the cap lets them.
TEST(RrmSitePlan, CapPerStep)
{
	Site s;
	for (int i = 0; i < 5; i++) {
		std::string a = "p" + std::to_string(i) + "a", b = "p" + std::to_string(i) + "b";
		s.ap(a, 6);
		s.ap(b, 6);
		s.hear(a, b, -60);
	}
	Model m = s.model();
	std::vector<Move> all = site_channel_plan(m, channels_1_6_11, {32, 0, {}});
	EXPECT_EQ(all.size(), 5u);
	std::set<char> pairs;
	for (const Move &mv : all)
		pairs.insert(mv.id[1]);
	EXPECT_EQ(pairs.size(), 5u);
	EXPECT_EQ(site_channel_plan(m, channels_1_6_11, {3, 0, {}}).size(), 3u);
	EXPECT_EQ(site_channel_plan(m, channels_1_6_11, {1, 0, {}}).size(), 1u);
}

// An AP left alone (skipped) on a channel off the list keeps its 100; the
// pair on 6 is all the plan can gain: 20 of 120, 16.7 %.
TEST(RrmSitePlan, LeastGain)
{
	Site s;
	s.ap("a", 6);
	s.ap("b", 6);
	s.ap("z", 3);
	s.hear("a", "b", -60);
	Model m = s.model();
	EXPECT_EQ(m.cost, 120u);
	Skip skip = {"z"};
	std::vector<Move> moves = site_channel_plan(m, channels_1_6_11, {32, 16, {}}, skip);
	ASSERT_EQ(moves.size(), 1u);
	EXPECT_NE(moves[0].id, "z");
	EXPECT_TRUE(site_channel_plan(m, channels_1_6_11, {32, 17, {}}, skip).empty());
	// Not left alone, z is moved onto the list as well.
	std::vector<Move> with_z = site_channel_plan(m, channels_1_6_11, {32, 17, {}});
	EXPECT_TRUE(std::any_of(with_z.begin(), with_z.end(), [](const Move &mv) { return mv.id == "z"; }));
}

TEST(RrmSitePlan, FrozenApsKeepTheirChannel)
{
	Site s = worked_site();
	Model m = s.model();
	SiteGraph g(m, channels_1_6_11, {});
	SitePlan p = plan_of(m, g, {"c", "a"});
	std::map<std::string, int> got = planned_channels(m, g, p);
	EXPECT_EQ(got["a"], 6);
	EXPECT_EQ(got["c"], 6);
	EXPECT_NE(got["b"], 6);
	EXPECT_NE(got["d"], 6);
}

// a-b-c in a line, all heard loudly: every AP is turned down, but b hears
// both others, so one step turns down c and a, and b in the next.
TEST(RrmSitePlan, PowerMovesOfAllThatNeedThem)
{
	Site s;
	for (const char *id : {"a", "b", "c"})
		s.ap(id, 6, 20);
	s.hear("a", "b", -60);
	s.hear("b", "c", -60);
	Model m = s.model();
	EXPECT_EQ(power_plan(m, 10, 20), (Move{"c", 17}));
	EXPECT_EQ(site_power_plan(m, 10, 20, 8), (std::vector<Move>{{"c", 17}, {"a", 17}}));
	EXPECT_EQ(site_power_plan(m, 10, 20, 1), (std::vector<Move>{{"c", 17}}));
	EXPECT_EQ(site_power_plan(m, 10, 20, 8, {"c"}), (std::vector<Move>{{"b", 17}}));
	// At the lower limit nothing is left to do.
	for (const char *id : {"a", "b", "c"})
		s.radios[id].power = 10;
	EXPECT_TRUE(site_power_plan(s.model(), 10, 20, 8).empty());
}

TEST(RrmSitePlan, OverlapByChannelWidth)
{
	Overlap by_distance, w20{20}, w40{40}, w80{80};
	EXPECT_EQ(by_distance.between(36, 40), Overlap::partial);
	EXPECT_EQ(by_distance.between(1, 5), Overlap::partial);
	EXPECT_EQ(by_distance.between(1, 6), Overlap::none);
	EXPECT_EQ(w20.between(36, 40), Overlap::none);
	EXPECT_EQ(w20.between(36, 36), Overlap::full);
	EXPECT_EQ(w40.between(36, 40), Overlap::full);
	EXPECT_EQ(w40.between(40, 44), Overlap::none);
	EXPECT_EQ(w40.between(149, 153), Overlap::full);
	EXPECT_EQ(w80.between(36, 48), Overlap::full);
	EXPECT_EQ(w80.between(48, 52), Overlap::none);
	EXPECT_EQ(w80.between(100, 112), Overlap::full);
	// 2.4 GHz keeps the distance rule whatever the width.
	EXPECT_EQ(w40.between(1, 5), Overlap::partial);
	EXPECT_EQ(w40.between(1, 6), Overlap::none);

	// Two APs on 36 and 40 heard at -60: a third of each weight by distance,
	// nothing at 20 MHz, everything at 40 MHz, and the plan then parts them.
	const std::vector<int> five = {36, 40, 44, 48};
	Site s;
	s.ap("a", 36);
	s.ap("b", 40);
	s.hear("a", "b", -60);
	EXPECT_EQ(s.model(five).cost, 6u);
	EXPECT_EQ(s.model(five, w20).cost, 0u);
	Model m40 = s.model(five, w40);
	EXPECT_EQ(m40.cost, 20u);
	EXPECT_TRUE(site_channel_plan(s.model(five, w20), five, {8, 0, w20}).empty());
	std::vector<Move> moves = site_channel_plan(m40, five, {8, 0, w40});
	ASSERT_EQ(moves.size(), 1u);
	int other = moves[0].id == "a" ? 40 : 36;
	EXPECT_EQ(w40.between(moves[0].value, other), Overlap::none) << moves[0].value;
}

} // namespace
