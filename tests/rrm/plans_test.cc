// The radio model and both plans as pure functions, with the worked case of a
// four-AP site and the edge cases of the model's rules.
#include <gtest/gtest.h>

#include <map>

#include "ctrl/model.h"
#include "ctrl/plans.h"

namespace {

using namespace rrm;

const std::vector<int> channels_1_6_11 = {1, 6, 11};

Mac bssid_of(const std::string &id, int k = 0)
{
	return {0x02, static_cast<uint8_t>(id[0]), static_cast<uint8_t>(id.back()), 0, 0, static_cast<uint8_t>(k)};
}

// A small simulated site: each AP's channel and power, and who hears whom.
struct Site {
	std::map<std::string, RadioReport> radios;
	std::map<std::string, BssList> scans;
	std::map<std::pair<std::string, std::string>, int> rssi; // symmetric

	void ap(const std::string &id, int channel, int power = 20)
	{
		radios[id].channel = channel;
		radios[id].power = power;
		radios[id].bssids = {bssid_of(id)};
	}
	void hear(const std::string &a, const std::string &b, int r)
	{
		rssi[{a, b}] = r;
		rssi[{b, a}] = r;
	}
	// Every AP scans: what it hears goes through the codec as it would on the wire.
	void scan()
	{
		for (auto &[id, radio] : radios) {
			BssList heard;
			for (auto &[pair, r] : rssi) {
				if (pair.first != id)
					continue;
				zev_wifi_bss b{};
				Mac m = bssid_of(pair.second);
				std::copy(m.begin(), m.end(), b.bssid);
				b.channel = static_cast<uint32_t>(radios[pair.second].channel);
				b.rssi = r;
				heard.push_back(b);
			}
			wlc::BlobBuf buf;
			encode_bss(buf, heard);
			scans[id] = *decode_bss(buf.head());
		}
	}
	Model model() const
	{
		std::vector<ModelInput> in;
		for (auto &[id, radio] : radios) {
			auto s = scans.find(id);
			in.push_back({id, &radio, s == scans.end() ? nullptr : &s->second});
		}
		return *build_model(in, channels_1_6_11, 1000);
	}
};

unsigned penalty(const Model &m, const std::string &id)
{
	for (const ApNode &n : m.nodes)
		if (n.id == id)
			return n.penalty;
	ADD_FAILURE() << "no node " << id;
	return 0;
}

Site worked_case()
{
	Site s;
	for (const char *id : {"a", "b", "c", "d"})
		s.ap(id, 6);
	s.hear("a", "b", -60);
	s.hear("a", "c", -70);
	s.hear("b", "c", -80);
	s.hear("c", "d", -60);
	s.hear("b", "d", -90);
	s.scan();
	return s;
}

TEST(RrmPlans, WorkedCaseChannels)
{
	Site s = worked_case();
	Model m = s.model();
	EXPECT_EQ(penalty(m, "a"), 16u);
	EXPECT_EQ(penalty(m, "b"), 13u);
	EXPECT_EQ(penalty(m, "c"), 19u);
	EXPECT_EQ(penalty(m, "d"), 10u);
	EXPECT_EQ(m.cost, 58u);
	ASSERT_EQ(m.nodes.size(), 4u);
	EXPECT_EQ(m.nodes[0].id, "d"); // descending id order
	EXPECT_EQ(channel_plan(m, channels_1_6_11, Sensitivity::medium), (Move{"c", 1}));

	s.radios["c"].channel = 1;
	s.scan();
	m = s.model();
	EXPECT_EQ(m.cost, 20u);
	EXPECT_EQ(channel_plan(m, channels_1_6_11, Sensitivity::medium), (Move{"b", 11}));

	s.radios["b"].channel = 11;
	s.scan();
	m = s.model();
	EXPECT_EQ(m.cost, 0u);
	EXPECT_FALSE(channel_plan(m, channels_1_6_11, Sensitivity::medium));
}

TEST(RrmPlans, WorkedCasePower)
{
	Site s = worked_case();
	std::vector<int> steps;
	for (int i = 0; i < 10; i++) {
		auto move = power_plan(s.model(), 10, 20);
		if (!move)
			break;
		EXPECT_EQ(move->id, "d");
		steps.push_back(move->value);
		s.radios[move->id].power = move->value; // the AP obeys; what others hear is unchanged
	}
	EXPECT_EQ(steps, (std::vector<int>{17, 14, 11, 10}));
	for (const char *id : {"a", "b", "c"})
		EXPECT_EQ(s.radios[id].power, 20);
}

TEST(RrmPlans, PairOnOneChannel)
{
	Site s;
	s.ap("x1", 6);
	s.ap("x2", 6);
	s.hear("x1", "x2", -60);
	s.scan();
	Model m = s.model();
	EXPECT_EQ(penalty(m, "x1"), 10u);
	EXPECT_EQ(m.nodes[0].observers.at(0).weight, 10u);
	EXPECT_EQ(m.cost, 20u);
	for (Sensitivity sens : {Sensitivity::low, Sensitivity::medium, Sensitivity::high})
		EXPECT_EQ(channel_plan(m, channels_1_6_11, sens), (Move{"x2", 1}));

	s.radios["x2"].channel = 8;
	s.scan();
	m = s.model();
	EXPECT_EQ(penalty(m, "x1"), 3u);
	EXPECT_EQ(penalty(m, "x2"), 3u + off_list_penalty); // 8 is not in the list
}

TEST(RrmPlans, OffListChannel)
{
	Site s;
	s.ap("a", 6);
	s.ap("b", 3);
	s.hear("a", "b", -60);
	s.scan();
	Model m = s.model();
	EXPECT_GE(penalty(m, "b"), 100u);
	EXPECT_EQ(channel_plan(m, channels_1_6_11, Sensitivity::low), (Move{"b", 1})); // the first at 0 ends the search
}

TEST(RrmPlans, UnknownChannelIsNotOffList)
{
	Site s;
	s.ap("a", 6);
	s.ap("b", 0); // its channel could not be read
	s.scan();
	EXPECT_EQ(s.model().cost, 0u);
}

TEST(RrmPlans, LowSensitivityNeedsGain)
{
	// b is heard by a (ch 6, -70: weight 6) and by c (ch 11, -60: weight 10).
	Site s;
	s.ap("a", 6);
	s.ap("b", 6);
	s.ap("c", 11);
	s.hear("a", "b", -70);
	s.hear("b", "c", -80); // weight 3: b on 11 would get 3
	s.scan();
	Model m = s.model();
	EXPECT_EQ(penalty(m, "b"), 6u);
	EXPECT_EQ(penalty(m, "a"), 6u);
	// Worst is b (higher id among equals); on 1 it would get 0 from a (ch 6, d 5) and 0 from c.
	EXPECT_EQ(channel_plan(m, channels_1_6_11, Sensitivity::low), (Move{"b", 1}));
	// Only channels 6 and 11: on 11 b gets 3 from c, gain 3.
	EXPECT_FALSE(channel_plan(m, {6, 11}, Sensitivity::low));
	EXPECT_EQ(channel_plan(m, {6, 11}, Sensitivity::medium), (Move{"b", 11}));
}

ModelInput input(const std::string &id, const RadioReport &r, const BssList *b)
{
	return {id, &r, b};
}

zev_wifi_bss heard(Mac m, int ch, int rssi)
{
	zev_wifi_bss b{};
	std::copy(m.begin(), m.end(), b.bssid);
	b.channel = static_cast<uint32_t>(ch);
	b.rssi = rssi;
	return b;
}

TEST(RrmPlans, ObserverSlots)
{
	RadioReport t;
	t.channel = 6;
	t.bssids = {bssid_of("t", 0), bssid_of("t", 1)};
	RadioReport o1 = t, o2 = t;
	o1.bssids = {bssid_of("1")};
	o2.bssids = {bssid_of("2")};
	// o1 hears t first at -70 then through its second BSSID at -60: one slot, -60,
	// placed ahead of o2 (-65) so the list stays strongest first.
	BssList h1 = {heard(bssid_of("t", 0), 6, -70), heard(bssid_of("t", 1), 6, -60)};
	BssList h2 = {heard(bssid_of("t", 0), 6, -65), heard(bssid_of("t", 1), 6, 0)};
	auto m = build_model({input("o1", o1, &h1), input("o2", o2, &h2), input("t", t, nullptr)}, channels_1_6_11, 0);
	ASSERT_TRUE(m);
	const ApNode &tn = m->nodes[0];
	ASSERT_EQ(tn.id, "t");
	ASSERT_EQ(tn.observers.size(), 2u);
	// o2's entry without "rssi" (0) is the strongest: weight 10.
	EXPECT_EQ(m->nodes[tn.observers[0].observer].id, "o2");
	EXPECT_EQ(tn.observers[0].rssi, 0);
	EXPECT_EQ(tn.observers[0].weight, 10u);
	EXPECT_EQ(m->nodes[tn.observers[1].observer].id, "o1");
	EXPECT_EQ(tn.observers[1].rssi, -60);
}

TEST(RrmPlans, ObserverOrderAfterUpdate)
{
	RadioReport t, o1, o2;
	t.channel = o1.channel = o2.channel = 6;
	t.bssids = {bssid_of("t", 0), bssid_of("t", 1)};
	o1.bssids = {bssid_of("1")};
	o2.bssids = {bssid_of("2")};
	BssList h1 = {heard(bssid_of("t", 0), 6, -80), heard(bssid_of("t", 1), 6, -60)};
	BssList h2 = {heard(bssid_of("t", 0), 6, -70)};
	// o2 is visited first (descending ids): slots o2 -70, then o1 -80, then o1 -60.
	auto m = build_model({input("o1", o1, &h1), input("o2", o2, &h2), input("t", t, nullptr)}, channels_1_6_11, 0);
	const ApNode &tn = m->nodes[0];
	ASSERT_EQ(tn.observers.size(), 2u);
	EXPECT_EQ(tn.observers[0].rssi, -60);
	EXPECT_EQ(tn.observers[1].rssi, -70);
}

TEST(RrmPlans, LoneApHasNoObserverSlot)
{
	RadioReport r;
	r.channel = 6;
	r.power = 12;
	r.bssids = {bssid_of("a")};
	BssList self = {heard(bssid_of("a"), 6, -40)}; // hearing itself counts for nothing
	auto m = build_model({input("a", r, &self)}, channels_1_6_11, 0);
	ASSERT_TRUE(m);
	EXPECT_EQ(m->nodes[0].capacity, 0u);
	EXPECT_TRUE(m->nodes[0].observers.empty());
	EXPECT_EQ(power_plan(*m, 10, 20), (Move{"a", 15}));
	EXPECT_FALSE(channel_plan(*m, channels_1_6_11, Sensitivity::high));
	EXPECT_FALSE(build_model({{"x", nullptr, &self}}, channels_1_6_11, 0));
}

TEST(RrmPlans, PowerRules)
{
	auto one = [](int power, std::vector<int> heard_at) {
		Site s;
		s.ap("z", 6, power);
		for (size_t i = 0; i < heard_at.size(); i++) {
			std::string id(1, static_cast<char>('a' + i));
			s.ap(id, 1);
			s.rssi[{id, "z"}] = heard_at[i];
		}
		s.scan();
		return power_plan(s.model(), 10, 20, {"a", "b", "c", "d"});
	};
	EXPECT_EQ(one(17, {-50, -55, -60, -80}), (Move{"z", 14})); // third strongest: -60
	EXPECT_EQ(one(17, {-50, -55, -80}), (Move{"z", 20}));
	EXPECT_EQ(one(19, {-50, -55, -80}), (Move{"z", 20}));
	EXPECT_FALSE(one(20, {-50, -55, -80}));
	EXPECT_FALSE(one(17, {-50, -55, -70}));
	EXPECT_EQ(one(17, {-50, -80}), (Move{"z", 20})); // two observers: the weaker
	EXPECT_EQ(one(17, {}), (Move{"z", 20}));         // none: up by 3
	EXPECT_EQ(one(unknown_power, {-50}), (Move{"z", 10}));

	Site s = worked_case();
	EXPECT_EQ(power_plan(s.model(), 0, 0), (Move{"d", 0}));
	EXPECT_EQ(power_plan(s.model(), 0, 0, {"d"}), (Move{"c", 0}));
}

TEST(RrmPlans, SkippedApsAreNotMoved)
{
	Site s = worked_case();
	EXPECT_EQ(channel_plan(s.model(), channels_1_6_11, Sensitivity::medium, {"c"}), (Move{"a", 1}));
}

TEST(RrmPlans, ModelReply)
{
	Site s;
	s.ap("a", 6, 17);
	s.ap("b", 0, unknown_power);
	s.hear("a", "b", -60);
	s.scan();
	wlc::BlobBuf b;
	encode_model(b, s.model());
	// b's channel is unknown: a cannot report hearing it, and b's hearing of a
	// is at no known distance.
	EXPECT_EQ(b.json(), R"({"timestamp":1000,"cost":0,"ap_list":[{"id":"b"},)"
			    R"({"id":"a","channel":6,"power":17,"observers":[{"id":"b","rssi":-60,"weight":10,"penalty":0}]}]})");
}

} // namespace
