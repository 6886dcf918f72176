// Configuration documents: what is read as a document and what is refused,
// the merge of site, group and AP documents, and their versions in the
// inventory file (effective configuration, group membership, which APs are
// behind and when they are sent again).
#include <gtest/gtest.h>

#include "config/config_store.h"
#include "config/merge.h"
#include "harness.h"
#include "inventory/inventory.h"
#include "inventory/store.h"

namespace {

using fleet::ConfigScope;

std::string merged(const std::vector<std::string> &docs)
{
	return fleet::merge_configs(docs).value_or("(refused)");
}

TEST(ConfigMerge, ObjectsMergeDeeplyScalarsAndArraysReplace)
{
	EXPECT_EQ(merged({R"({"wifi":{"ssid":"hq","channel":6,"vlans":[1,2]},"ntp":"a"})",
			  R"({"wifi":{"channel":11,"vlans":[3]},"led":true})"}),
		  R"({"wifi":{"ssid":"hq","channel":11,"vlans":[3]},"ntp":"a","led":true})");
	// A later object over a scalar replaces it, and the reverse.
	EXPECT_EQ(merged({R"({"a":1,"b":{"c":1}})", R"({"a":{"x":1},"b":2})"}), R"({"a":{"x":1},"b":2})");
	// Site, then group, then AP: the last word wins.
	EXPECT_EQ(merged({R"({"ssid":"site"})", R"({"ssid":"group"})", R"({"ssid":"ap"})"}), R"({"ssid":"ap"})");
	EXPECT_EQ(merged({}), "{}");
}

TEST(ConfigMerge, NullRemovesAMemberAndNeverReachesTheResult)
{
	EXPECT_EQ(merged({R"({"wifi":{"ssid":"hq","channel":6},"ntp":"a"})", R"({"wifi":{"channel":null},"ntp":null})"}),
		  R"({"wifi":{"ssid":"hq"}})");
	// Over nothing, a null is dropped, also inside a new object.
	EXPECT_EQ(merged({R"({"x":null,"y":{"z":null,"k":1}})"}), R"({"y":{"k":1}})");
	// Inside arrays values are kept as given.
	EXPECT_EQ(merged({R"({"list":[null,1]})"}), R"({"list":[null,1]})");
	// A document that is not an object is not merged.
	EXPECT_EQ(merged({"[1]"}), "(refused)");
}

TEST(ConfigDocuments, NotJsonOrNotAnObjectIsRefusedWithTheReason)
{
	struct Case {
		std::string text, error;
	};
	std::string deep;
	for (int i = 0; i < fleet::kMaxConfigDepth + 1; i++)
		deep += R"({"a":)";
	deep += "1" + std::string(fleet::kMaxConfigDepth + 1, '}');
	std::vector<Case> cases = {
		{"", "not JSON: unexpected end of data"},
		{R"({"a":)", "not JSON: unexpected end of data"},
		{R"({"a":1,})", "not JSON"},
		{"{a:1}", "not JSON"},
		{R"({"a":1} x)", "not JSON: unexpected character"},
		{R"({"a":1}{"b":2})", "not JSON: unexpected character"},
		{"[1,2]", "not a JSON object but array"},
		{R"("text")", "not a JSON object but string"},
		{"null", "not a JSON object but null"},
		{"42", "not a JSON object but int"},
		{deep, "nested deeper than 16 levels"},
		{R"({"a":")" + std::string(fleet::kMaxConfigText, 'x') + R"("})", "larger than 65536 bytes"},
	};
	for (const Case &c : cases) {
		fleet::ConfigDocument d = fleet::read_config(c.text);
		EXPECT_EQ(d.json, "") << c.text.substr(0, 40);
		EXPECT_NE(d.error.find(c.error), std::string::npos) << c.text.substr(0, 40) << " → " << d.error;
	}
	fleet::ConfigDocument ok = fleet::read_config(" { \"ssid\" : \"hq\", \"n\": [1, 2.5, true] }\n");
	EXPECT_EQ(ok.error, "");
	EXPECT_EQ(ok.json, R"({"ssid":"hq","n":[1,2.5,true]})");
}

class ConfigVersions : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string error;
		auto opened = fleet::open_store(root_.path() + "/fleet.db", error);
		ASSERT_TRUE(opened) << error;
		inventory_ = std::make_unique<fleet::Inventory>(std::move(opened->db), [this] { return now_; });
		store_ = std::make_unique<fleet::ConfigStore>(inventory_->raw(), [this] { return now_; });
	}

	// An AP of the site in the state given, online or not.
	void add_ap(const std::string &id, const std::string &site, fleet::ApState state, bool online = true)
	{
		fleet::JoinInfo j{id, "CERT", "1", "r1", "zev-ap1", "S-" + id, {}, {}, {}, {}};
		ASSERT_TRUE(inventory_->save_join(j, site, state, {}));
		fleet::PresenceInfo p;
		p.id = id;
		p.online = online;
		ASSERT_TRUE(inventory_->save_presence(p, site, state, {}));
	}
	int64_t set(ConfigScope scope, const std::string &name, const std::string &json, bool draft = false,
		    int64_t not_before = 0)
	{
		return store_->set({scope, name, json, "operator", "test", draft, not_before}).value_or(-1);
	}
	std::string pending()
	{
		std::string out;
		for (const fleet::PendingConfig &p : store_->pending(now_ - 10, 100))
			out += p.id + "@" + std::to_string(p.wanted) + " ";
		return out;
	}

	wlctest::TempRoot root_;
	int64_t now_ = 1000;
	std::unique_ptr<fleet::Inventory> inventory_;
	std::unique_ptr<fleet::ConfigStore> store_;
};

TEST_F(ConfigVersions, EveryChangeIsKeptAndTheApRunsItsMergedDocuments)
{
	add_ap("ap1-00-00-01", "hq", fleet::ApState::adopted);
	EXPECT_EQ(store_->effective("ap1-00-00-01", "hq").version, 0);
	EXPECT_EQ(set(ConfigScope::site, "hq", R"({"ssid":"hq","channel":6})"), 1);
	EXPECT_EQ(set(ConfigScope::group, "lobby", R"({"channel":11})"), 2);
	EXPECT_EQ(set(ConfigScope::ap, "ap1-00-00-01", R"({"power":10})", true), 3);
	EXPECT_EQ(set(ConfigScope::site, "hq", R"({"ssid":"hq2","channel":1})"), 4);

	fleet::EffectiveConfig e = store_->effective("ap1-00-00-01", "hq");
	EXPECT_EQ(e.version, 4);
	EXPECT_FALSE(e.draft);
	EXPECT_EQ(merged(e.documents), R"({"ssid":"hq2","channel":1,"power":10})");

	// Joining the group: a new version, after every document.
	EXPECT_EQ(store_->set_group("ap1-00-00-01", "lobby", "operator").value_or(-1), 5);
	e = store_->effective("ap1-00-00-01", "hq");
	EXPECT_EQ(e.group, "lobby");
	EXPECT_EQ(e.version, 5);
	EXPECT_EQ(merged(e.documents), R"({"ssid":"hq2","channel":11,"power":10})");
	// Leaving it again: another one.
	EXPECT_EQ(store_->set_group("ap1-00-00-01", "", "operator").value_or(-1), 6);
	e = store_->effective("ap1-00-00-01", "hq");
	EXPECT_EQ(e.group, "");
	EXPECT_EQ(e.version, 6);
	EXPECT_EQ(merged(e.documents), R"({"ssid":"hq2","channel":1,"power":10})");

	std::vector<fleet::ConfigChange> h = store_->history(ConfigScope::site, "hq", 10);
	ASSERT_EQ(h.size(), 2u);
	EXPECT_EQ(h[0].version, 4);
	EXPECT_EQ(h[0].config, R"({"ssid":"hq2","channel":1})");
	EXPECT_EQ(h[1].version, 1);
	EXPECT_EQ(h[1].author, "operator");
	EXPECT_EQ(h[1].reason, "test");
	EXPECT_EQ(h[1].at, 1000);
	EXPECT_TRUE(store_->current(ConfigScope::ap, "ap1-00-00-01")->draft);
	EXPECT_FALSE(store_->current(ConfigScope::group, "none"));
}

TEST_F(ConfigVersions, OnlyAdoptedOnlineApsBehindAreSentAndAgainAfterTheWait)
{
	add_ap("ap1-00-00-01", "hq", fleet::ApState::adopted);
	add_ap("ap2-00-00-02", "hq", fleet::ApState::offline, false);
	add_ap("ap3-00-00-03", "hq", fleet::ApState::pending);
	add_ap("ap4-00-00-04", "lab", fleet::ApState::adopted);
	EXPECT_EQ(pending(), "");
	set(ConfigScope::site, "hq", R"({"ssid":"hq"})");
	EXPECT_EQ(pending(), "ap1-00-00-01@1 ");

	// Sent: not again until the wait has passed; confirmed: not at all.
	ASSERT_TRUE(store_->record_sent("ap1-00-00-01", 1));
	EXPECT_EQ(pending(), "");
	now_ += 11;
	EXPECT_EQ(pending(), "ap1-00-00-01@1 ");
	ASSERT_TRUE(store_->record_applied("ap1-00-00-01", 1));
	EXPECT_EQ(pending(), "");
	// A late confirmation of an older version does not lower it.
	ASSERT_TRUE(store_->record_applied("ap1-00-00-01", 0));
	EXPECT_EQ(store_->delivery("ap1-00-00-01").applied, 1);
	std::vector<fleet::Event> h = inventory_->history("ap1-00-00-01", 10);
	ASSERT_FALSE(h.empty());
	EXPECT_EQ(h.back().kind, "config");

	// The offline AP comes back: it is behind.
	fleet::PresenceInfo back;
	back.id = "ap2-00-00-02";
	back.online = true;
	ASSERT_TRUE(inventory_->save_presence(back, "hq", fleet::ApState::adopted, {}));
	EXPECT_EQ(pending(), "ap2-00-00-02@1 ");

	// A change held back is not sent before its time.
	set(ConfigScope::ap, "ap4-00-00-04", R"({"ssid":"x"})", false, now_ + 60);
	EXPECT_EQ(pending(), "ap2-00-00-02@1 ");
	now_ += 61;
	EXPECT_EQ(pending(), "ap2-00-00-02@1 ap4-00-00-04@2 ");
}

} // namespace
