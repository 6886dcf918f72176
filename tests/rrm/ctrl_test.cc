// rrm_ctrl's bus methods, steps, commands and aggressive mode, with the
// bridge stand-in recording what it publishes.
#include <gtest/gtest.h>

#include "ctrl_fixture.h"

namespace {

using rrmtest::CtrlTest;

// The worked case's site once it has settled: no channel or power move left.
rrmtest::SiteModel settled_site()
{
	rrmtest::SiteModel site = rrmtest::worked_site();
	site.radios["b"].channel = 11;
	site.radios["c"].channel = 1;
	site.radios["d"].power = 10;
	return site;
}

TEST_F(CtrlTest, ConfigTimers)
{
	start();
	std::string reply;
	EXPECT_EQ(call_json(object_, "config", R"({"channel_timer":0})", &reply), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(reply, R"({"channel_timer":3600,"power_timer":900})");
	// 4294968 s is more than the timer can hold: refused, not wrapped to 704 ms.
	EXPECT_EQ(call_json(object_, "config", R"({"channel_timer":4294968})", &reply), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(ctrl_->channel_interval(), 3600000);
	EXPECT_EQ(call_json(object_, "config", R"({"power_timer":600})", &reply), 0);
	EXPECT_EQ(reply, R"({"channel_timer":3600,"power_timer":600})");
	// A longer period waits for the running one.
	EXPECT_EQ(call_json(object_, "config", R"({"power_timer":3600,"channel_timer":30})", &reply), 0);
	EXPECT_EQ(reply, R"({"channel_timer":30,"power_timer":3600})");
	EXPECT_EQ(ctrl_->power_interval(), 3600000);
}

TEST_F(CtrlTest, NoModelBeforeReports)
{
	start();
	EXPECT_EQ(model_json(), "status 5");
	ctrl_->channel_step();
	EXPECT_TRUE(wlctest::pump([&] { return log_text().find("mising data to calculate fresh model") != std::string::npos; }));
	EXPECT_TRUE(published_.empty());
}

TEST_F(CtrlTest, WorkedCaseCommands)
{
	start();
	rrmtest::SiteModel site = rrmtest::worked_site();
	report_site(site);
	ctrl_->channel_step();
	ASSERT_TRUE(wlctest::pump([&] { return published_.size() == 1; }));
	EXPECT_EQ(published_[0].path, "zev/wlc/rrm/site1/ap/c/1/cmd/config");
	EXPECT_EQ(published_[0].message, R"({"channel":1})");
	EXPECT_NE(model_json().find(R"("cost":58)"), std::string::npos);
	EXPECT_NE(log_text().find("send channel command to c (channel 1)"), std::string::npos);

	site.radios["c"].channel = 1;
	report_site(site);
	ctrl_->channel_step();
	ASSERT_TRUE(wlctest::pump([&] { return published_.size() == 2; }));
	EXPECT_EQ(published_[1].path, "zev/wlc/rrm/site1/ap/b/1/cmd/config");
	EXPECT_EQ(published_[1].message, R"({"channel":11})");

	site.radios["b"].channel = 11;
	report_site(site);
	ctrl_->channel_step();
	EXPECT_NE(model_json().find(R"("cost":0)"), std::string::npos);
	ctrl_->power_step();
	ASSERT_TRUE(wlctest::pump([&] { return published_.size() == 3; }));
	EXPECT_EQ(published_[2].path, "zev/wlc/rrm/site1/ap/d/1/cmd/config");
	EXPECT_EQ(published_[2].message, R"({"power":17})");
	EXPECT_NE(log_text().find("don't need to correct channels now"), std::string::npos);
}

// A report that arrives in the same second as the model was built still
// makes the next step rebuild it.
TEST_F(CtrlTest, SameSecondReportRebuilds)
{
	start();
	rrmtest::SiteModel site = rrmtest::worked_site();
	report_site(site);
	ctrl_->power_step();
	EXPECT_NE(model_json().find(R"("cost":58)"), std::string::npos);
	site.radios["c"].channel = 1;
	report_site(site); // same clock second
	ctrl_->power_step();
	EXPECT_NE(model_json().find(R"("cost":20)"), std::string::npos);
}

TEST_F(CtrlTest, ChannelsReportAloneKeepsModel)
{
	start();
	report_site(settled_site());
	ctrl_->power_step();
	std::string before = model_json();
	EXPECT_NE(before.find(R"("cost":0)"), std::string::npos);
	now_ += 10;
	EXPECT_EQ(report_add("channels", "a", [](wlc::BlobBuf &b) { rrm::encode_channels(b, {{0, 100, 6, 1, 1, 1, 1, 1, 1}}); }), 0);
	ctrl_->power_step();
	EXPECT_EQ(model_json(), before);
}

TEST_F(CtrlTest, SilentApsAgeOut)
{
	start();
	rrmtest::SiteModel site = rrmtest::worked_site();
	report_site(site);
	now_ += rrm::max_report_age_s + 1;
	site.radios.erase("c");
	report_site(site); // c stopped reporting
	ctrl_->power_step();
	std::string m = model_json();
	EXPECT_EQ(m.find(R"("id":"c")"), std::string::npos) << m;
	EXPECT_NE(m.find(R"("id":"a")"), std::string::npos);
}

// An AP that does not apply its move is left alone after a few newer
// reports, and the next AP gets its turn.
TEST_F(CtrlTest, DisobedientApLeftAlone)
{
	start();
	rrmtest::SiteModel site = rrmtest::worked_site();
	std::vector<std::string> targets;
	for (int i = 0; i < 6; i++) {
		report_site(site); // c stays on 6
		now_ += 60;
		size_t before = published_.size();
		ctrl_->channel_step();
		ASSERT_TRUE(wlctest::pump([&] { return published_.size() == before + 1; }));
		targets.push_back(published_.back().path);
	}
	EXPECT_EQ(targets[0], "zev/wlc/rrm/site1/ap/c/1/cmd/config");
	EXPECT_EQ(targets[2], "zev/wlc/rrm/site1/ap/c/1/cmd/config");
	EXPECT_EQ(targets.back(), "zev/wlc/rrm/site1/ap/a/1/cmd/config");
	EXPECT_NE(log_text().find("c did not apply channel 1, leave it alone"), std::string::npos);
	// Once c reports a change it is planned again.
	site.radios["c"].channel = 11;
	report_site(site);
	ctrl_->channel_step();
	EXPECT_NE(model_json().find(R"("id":"c","channel":11)"), std::string::npos);
}

TEST_F(CtrlTest, CommandLostWithoutBridge)
{
	start();
	remove_bridge();
	report_site(rrmtest::worked_site());
	ctrl_->channel_step();
	EXPECT_TRUE(wlctest::pump([&] { return log_text().find("failed to send command: ubus obj not found") != std::string::npos; }));
	// The model is stale: the next step recomputes and sends again.
	add_bridge();
	ctrl_->channel_step();
	ASSERT_TRUE(wlctest::pump([&] { return published_.size() == 1; }));
	EXPECT_EQ(published_[0].path, "zev/wlc/rrm/site1/ap/c/1/cmd/config");
}

TEST_F(CtrlTest, AggressiveModeCommandsAndIntervals)
{
	start();
	EXPECT_EQ(call_json(object_, "agressive", R"({"enable":true})"), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call_json(object_, "agressive", R"({"timeout":5})"), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call_json(object_, "agressive", R"({"enable":true,"timeout":600})"), 0);
	EXPECT_TRUE(ctrl_->aggressive());
	EXPECT_EQ(ctrl_->channel_interval(), 120000);
	EXPECT_EQ(ctrl_->power_interval(), 60000);
	ASSERT_TRUE(wlctest::pump([&] { return published_.size() == 1; }));
	EXPECT_EQ(published_[0].path, "zev/wlc/rrm/site1/ap/all/1/cmd/agressive");
	EXPECT_EQ(published_[0].message, R"({"enable":true,"timeout":600})");
	// A second enable re-arms without saving the shortened intervals.
	EXPECT_EQ(call_json(object_, "agressive", R"({"enable":true,"timeout":300})"), 0);
	ASSERT_TRUE(wlctest::pump([&] { return published_.size() == 2; }));
	EXPECT_EQ(call_json(object_, "agressive", R"({"enable":false})"), 0);
	EXPECT_FALSE(ctrl_->aggressive());
	EXPECT_EQ(ctrl_->channel_interval(), 3600000);
	EXPECT_EQ(ctrl_->power_interval(), 900000);
	ASSERT_TRUE(wlctest::pump([&] { return published_.size() == 3; }));
	EXPECT_EQ(published_[2].message, R"({"enable":false})");
	std::string log = log_text();
	EXPECT_EQ(log.find("switch to agressive mode"), log.rfind("switch to agressive mode")); // once
	EXPECT_NE(log.find("rrm_test.notice: switch to main mode"), std::string::npos);
	// Too long a timeout is refused rather than wrapped.
	EXPECT_EQ(call_json(object_, "agressive", R"({"enable":true,"timeout":2147484})"), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_FALSE(ctrl_->aggressive());
}

TEST_F(CtrlTest, AggressiveModeTimesOut)
{
	start();
	EXPECT_EQ(call_json(object_, "agressive", R"({"enable":true,"timeout":0})"), 0);
	ASSERT_TRUE(wlctest::pump([&] { return !ctrl_->aggressive(); }));
	EXPECT_NE(log_text().find("agressive mode timed out, switch to main mode"), std::string::npos);
	ASSERT_TRUE(wlctest::pump([&] { return published_.size() == 2; }));
	EXPECT_EQ(published_[0].message, R"({"enable":false})"); // a timeout of 0 enables nothing on the agents
	EXPECT_EQ(published_[1].message, R"({"enable":false})");
	EXPECT_EQ(ctrl_->channel_interval(), 3600000);
}

TEST_F(CtrlTest, AggressiveModeEndsWithoutChanges)
{
	start();
	report_site(settled_site());
	EXPECT_EQ(call_json(object_, "agressive", R"({"enable":true,"timeout":600})"), 0);
	for (int i = 0; i < 3; i++)
		ctrl_->channel_step();
	for (int i = 0; i < 5; i++)
		ctrl_->power_step();
	EXPECT_TRUE(ctrl_->aggressive());
	ctrl_->power_step();
	EXPECT_FALSE(ctrl_->aggressive());
	EXPECT_NE(log_text().find("no changes counter exceed, disable agressive mode"), std::string::npos);
	EXPECT_NE(log_text().find("rrm_test.notice: switch to main mode"), std::string::npos);
}

TEST_F(CtrlTest, MoveRestartsNoChangeCount)
{
	start();
	rrmtest::SiteModel site = rrmtest::worked_site();
	report_site(site);
	EXPECT_EQ(call_json(object_, "agressive", R"({"enable":true,"timeout":600})"), 0);
	for (int i = 0; i < 6; i++)
		ctrl_->power_step(); // d is moved each time (it never reports a change): each is a change
	for (int i = 0; i < 3; i++)
		ctrl_->channel_step();
	EXPECT_TRUE(ctrl_->aggressive());
}

} // namespace
