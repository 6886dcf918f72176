// Join approval: the decisions of each mode, what presence messages do to an
// AP's state, and the whole way of an AP through a real inventory.
#include <gtest/gtest.h>

#include "approval/lifecycle.h"
#include "approval/policy.h"
#include "common/identifiers.h"
#include "harness.h"
#include "inventory/store.h"

namespace {

using fleet::ApprovalMode;
using fleet::ApState;

std::vector<std::string> kinds(const std::vector<fleet::EventNote> &events)
{
	std::vector<std::string> out;
	for (const auto &e : events)
		out.push_back(e.kind);
	return out;
}

TEST(ApprovalModes, ParseAndDefaultPerSite)
{
	EXPECT_EQ(fleet::parse_mode("auto"), ApprovalMode::automatic);
	EXPECT_EQ(fleet::parse_mode("allow"), ApprovalMode::allow);
	EXPECT_EQ(fleet::parse_mode("manual"), ApprovalMode::manual);
	EXPECT_EQ(fleet::parse_mode("Auto"), std::nullopt);
	EXPECT_EQ(fleet::parse_mode(""), std::nullopt);
	fleet::ApprovalPolicy policy;
	EXPECT_EQ(policy.mode_of("any"), ApprovalMode::manual);
	policy.set("hq", ApprovalMode::automatic);
	policy.set_default(ApprovalMode::allow);
	EXPECT_EQ(policy.mode_of("hq"), ApprovalMode::automatic);
	EXPECT_EQ(policy.mode_of("lab"), ApprovalMode::allow);
}

TEST(JoinDecisions, NewApByMode)
{
	auto a = fleet::decide_join(std::nullopt, ApprovalMode::automatic, false);
	EXPECT_EQ(a.state, ApState::approved);
	EXPECT_TRUE(a.respond);
	EXPECT_EQ(kinds(a.events), (std::vector<std::string>{"join", "approval"}));

	auto listed = fleet::decide_join(std::nullopt, ApprovalMode::allow, true);
	EXPECT_EQ(listed.state, ApState::approved);
	EXPECT_TRUE(listed.respond);
	auto unlisted = fleet::decide_join(std::nullopt, ApprovalMode::allow, false);
	EXPECT_EQ(unlisted.state, ApState::pending);
	EXPECT_FALSE(unlisted.respond);

	// Registration does not approve in manual mode: the operator does.
	auto manual = fleet::decide_join(std::nullopt, ApprovalMode::manual, true);
	EXPECT_EQ(manual.state, ApState::pending);
	EXPECT_FALSE(manual.respond);
	EXPECT_EQ(kinds(manual.events), (std::vector<std::string>{"join"}));
}

TEST(JoinDecisions, KnownAps)
{
	// A refused AP is recorded and never answered, whatever the mode.
	for (ApprovalMode m : {ApprovalMode::automatic, ApprovalMode::allow, ApprovalMode::manual}) {
		auto d = fleet::decide_join(ApState::refused, m, true);
		EXPECT_EQ(d.state, ApState::refused);
		EXPECT_FALSE(d.respond);
	}
	// One approved before is answered again, even in manual mode.
	for (ApState s : {ApState::approved, ApState::adopted, ApState::offline}) {
		auto d = fleet::decide_join(s, ApprovalMode::manual, false);
		EXPECT_EQ(d.state, ApState::approved) << fleet::state_name(s);
		EXPECT_TRUE(d.respond);
		EXPECT_EQ(kinds(d.events), (std::vector<std::string>{"join"}));
	}
	// Retries of an AP that stays pending or refused leave the history alone.
	EXPECT_TRUE(fleet::decide_join(ApState::pending, ApprovalMode::manual, false).events.empty());
	EXPECT_TRUE(fleet::decide_join(ApState::refused, ApprovalMode::automatic, false).events.empty());
	// A pending AP is decided again: the mode or the allow list may have changed.
	EXPECT_EQ(fleet::decide_join(ApState::pending, ApprovalMode::allow, true).state, ApState::approved);
	EXPECT_EQ(fleet::decide_join(ApState::pending, ApprovalMode::manual, false).state, ApState::pending);
}

TEST(PresenceDecisions, AdoptionOfflineAndBack)
{
	// The join connection's own announcement is not the adopted session.
	auto probe = fleet::decide_presence(ApState::approved, true, true);
	EXPECT_EQ(probe.state, ApState::approved);
	EXPECT_TRUE(probe.events.empty());
	auto adopted = fleet::decide_presence(ApState::approved, true, false);
	EXPECT_EQ(adopted.state, ApState::adopted);
	EXPECT_EQ(kinds(adopted.events), (std::vector<std::string>{"adoption"}));
	auto gone = fleet::decide_presence(ApState::adopted, false, false);
	EXPECT_EQ(gone.state, ApState::offline);
	EXPECT_EQ(kinds(gone.events), (std::vector<std::string>{"offline"}));
	auto back = fleet::decide_presence(ApState::offline, true, false);
	EXPECT_EQ(back.state, ApState::adopted);
	EXPECT_EQ(kinds(back.events), (std::vector<std::string>{"online"}));
	// The same presence again changes nothing and records nothing.
	EXPECT_TRUE(fleet::decide_presence(ApState::adopted, true, false).events.empty());
	EXPECT_TRUE(fleet::decide_presence(ApState::offline, false, false).events.empty());
}

TEST(PresenceDecisions, PendingRefusedAndUnknown)
{
	EXPECT_EQ(fleet::decide_presence(ApState::pending, true, false).state, ApState::pending);
	EXPECT_EQ(fleet::decide_presence(ApState::refused, true, false).state, ApState::refused);
	// Seen without a join (an inventory started anew): listed, for the operator.
	auto unknown = fleet::decide_presence(std::nullopt, true, false);
	EXPECT_EQ(unknown.state, ApState::pending);
	EXPECT_EQ(kinds(unknown.events), (std::vector<std::string>{"online"}));
}

TEST(Identifiers, DeviceIdMacAndSite)
{
	EXPECT_TRUE(fleet::is_device_id("ap1-a3-b4-c5"));
	EXPECT_TRUE(fleet::is_device_id("-a3-b4-c5"));                // a model that could not be read
	EXPECT_TRUE(fleet::is_device_id("outdoor-ap-long-name-a3")); // cut at 23 characters
	EXPECT_FALSE(fleet::is_device_id(""));
	EXPECT_FALSE(fleet::is_device_id("ap1"));
	EXPECT_FALSE(fleet::is_device_id("ap1-A3-B4-C5"));
	EXPECT_FALSE(fleet::is_device_id("ap1/x-a3-b4-c5"));
	EXPECT_FALSE(fleet::is_device_id("ap1+-a3-b4-c5"));
	EXPECT_FALSE(fleet::is_device_id("outdoor-ap-long-name-a3x"));
	EXPECT_FALSE(fleet::is_device_id(std::string("ap1\0-a3-b4-c5", 14)));
	EXPECT_TRUE(fleet::is_mac("00:11:22:A3:b4:c5"));
	EXPECT_FALSE(fleet::is_mac("00:11:22:a3:b4"));
	EXPECT_FALSE(fleet::is_mac("00-11-22-a3-b4-c5"));
	EXPECT_FALSE(fleet::is_mac("00:11:22:a3:b4:cg"));
	EXPECT_TRUE(fleet::is_site_name("site1"));
	EXPECT_FALSE(fleet::is_site_name("site 1"));
	EXPECT_FALSE(fleet::is_site_name(std::string(33, 's')));
	EXPECT_EQ(fleet::printable("a\nb\x01"), "a?b?");
}

// The whole way through a real inventory, JOIN_RESP recorded as published.
class ApLifecycle : public ::testing::Test {
protected:
	void SetUp() override
	{
		std::string error;
		auto store = fleet::open_store(root_.path() + "/fleet.db", error);
		ASSERT_TRUE(store) << error;
		inventory_ = std::make_unique<fleet::Inventory>(std::move(store->db));
		lifecycle_ = std::make_unique<fleet::Lifecycle>(*inventory_, policy_, "hq",
								[this](const std::string &id) { answered_.push_back(id); });
	}

	static fleet::JoinInfo join(const std::string &id, const std::string &serial)
	{
		return {id, "CERT", "23.05.2", "r1", "zev-ap1", serial, std::nullopt, "00:11:22:a3:b4:c5", std::nullopt,
			std::nullopt};
	}
	void online(const std::string &id, bool on)
	{
		fleet::PresenceInfo p;
		p.id = id;
		p.online = on;
		ASSERT_TRUE(lifecycle_->on_presence(p));
	}
	ApState state(const std::string &id) { return inventory_->find(id).value().state; }

	wlctest::TempRoot root_;
	fleet::ApprovalPolicy policy_;
	std::unique_ptr<fleet::Inventory> inventory_;
	std::unique_ptr<fleet::Lifecycle> lifecycle_;
	std::vector<std::string> answered_;
};

TEST_F(ApLifecycle, AutoApprovedApIsAdoptedByItsSessionNotByItsJoinConnection)
{
	policy_.set("hq", ApprovalMode::automatic);
	ASSERT_TRUE(lifecycle_->on_join(join("ap1-00-00-01", "S1")));
	EXPECT_EQ(answered_, std::vector<std::string>{"ap1-00-00-01"});
	online("ap1-00-00-01", true); // the join connection's announcement
	EXPECT_EQ(state("ap1-00-00-01"), ApState::approved);
	online("ap1-00-00-01", true); // the adopted session's
	EXPECT_EQ(state("ap1-00-00-01"), ApState::adopted);
	online("ap1-00-00-01", false);
	EXPECT_EQ(state("ap1-00-00-01"), ApState::offline);
	online("ap1-00-00-01", true);
	EXPECT_EQ(state("ap1-00-00-01"), ApState::adopted);
	std::vector<std::string> seen;
	for (const auto &e : inventory_->history("ap1-00-00-01", 100))
		seen.push_back(e.kind);
	EXPECT_EQ(seen, (std::vector<std::string>{"join", "approval", "adoption", "offline", "online"}));
}

TEST_F(ApLifecycle, AllowListPlacesTheApInItsSite)
{
	policy_.set_default(ApprovalMode::allow);
	ASSERT_TRUE(inventory_->allow(fleet::AllowKind::serial, "S2", "lab"));
	ASSERT_TRUE(lifecycle_->on_join(join("ap1-00-00-02", "S2")));
	ASSERT_TRUE(lifecycle_->on_join(join("ap1-00-00-03", "S3")));
	EXPECT_EQ(state("ap1-00-00-02"), ApState::approved);
	EXPECT_EQ(inventory_->find("ap1-00-00-02")->site, "lab");
	EXPECT_EQ(state("ap1-00-00-03"), ApState::pending);
	EXPECT_EQ(inventory_->find("ap1-00-00-03")->site, "hq");
	EXPECT_EQ(answered_, std::vector<std::string>{"ap1-00-00-02"});
}

TEST_F(ApLifecycle, ManualApWaitsUntilApprovedAndRefusedOneIsNeverAnswered)
{
	ASSERT_TRUE(lifecycle_->on_join(join("ap1-00-00-04", "S4")));
	ASSERT_TRUE(lifecycle_->on_join(join("ap1-00-00-05", "S5")));
	EXPECT_TRUE(answered_.empty());
	EXPECT_EQ(lifecycle_->approve("ap1-00-00-04", "operator"), fleet::Outcome::done);
	EXPECT_EQ(lifecycle_->approve("ap1-00-00-04", "operator"), fleet::Outcome::unchanged);
	EXPECT_EQ(lifecycle_->refuse("ap1-00-00-05", "operator"), fleet::Outcome::done);
	EXPECT_EQ(answered_, std::vector<std::string>{"ap1-00-00-04"});
	// Their next join requests: the approved one is answered, the refused one not.
	ASSERT_TRUE(lifecycle_->on_join(join("ap1-00-00-04", "S4")));
	ASSERT_TRUE(lifecycle_->on_join(join("ap1-00-00-05", "S5")));
	EXPECT_EQ(answered_, (std::vector<std::string>{"ap1-00-00-04", "ap1-00-00-04"}));
	EXPECT_EQ(state("ap1-00-00-05"), ApState::refused);
	EXPECT_EQ(lifecycle_->forget("ap1-00-00-05", "operator"), fleet::Outcome::done);
	EXPECT_EQ(lifecycle_->forget("ap1-00-00-05", "operator"), fleet::Outcome::not_found);
	EXPECT_EQ(lifecycle_->approve("ap1-00-00-99", "operator"), fleet::Outcome::not_found);
}

} // namespace
