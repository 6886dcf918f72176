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
	// Refused values leave the running timers alone.
	EXPECT_GT(ctrl_->channel_timer_remaining(), 3600000 - 60000);
	EXPECT_GT(ctrl_->power_timer_remaining(), 900000 - 60000);
	// A shorter period takes effect at once.
	EXPECT_EQ(call_json(object_, "config", R"({"power_timer":600})", &reply), 0);
	EXPECT_EQ(reply, R"({"channel_timer":3600,"power_timer":600})");
	EXPECT_LE(ctrl_->power_timer_remaining(), 600000);
	EXPECT_GT(ctrl_->power_timer_remaining(), 600000 - 60000);
	// A longer period waits for the running one: the power step is still due
	// within 600 s, not 3600 s, while the channel timer is cut to 30 s.
	EXPECT_EQ(call_json(object_, "config", R"({"power_timer":3600,"channel_timer":30})", &reply), 0);
	EXPECT_EQ(reply, R"({"channel_timer":30,"power_timer":3600})");
	EXPECT_EQ(ctrl_->power_interval(), 3600000);
	EXPECT_LE(ctrl_->power_timer_remaining(), 600000);
	EXPECT_GT(ctrl_->power_timer_remaining(), 0);
	EXPECT_LE(ctrl_->channel_timer_remaining(), 30000);
	// Once the running period ends, the step re-arms with the longer one.
	ctrl_->power_step();
	EXPECT_GT(ctrl_->power_timer_remaining(), 3600000 - 60000);
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
	now_ += rrm::report_age_floor_s + 1;
	site.radios.erase("c");
	report_site(site); // c stopped reporting
	ctrl_->power_step();
	std::string m = model_json();
	EXPECT_EQ(m.find(R"("id":"c")"), std::string::npos) << m;
	EXPECT_NE(m.find(R"("id":"a")"), std::string::npos);
}

// An agent that pauses two hours between list scans stays in the model
// between its reports, and leaves it only after several of its own intervals.
TEST_F(CtrlTest, SlowAgentStaysInModel)
{
	start();
	rrmtest::SiteModel site = rrmtest::worked_site();
	const int64_t cadence = 7200;
	auto report = [&](const std::string &id) {
		EXPECT_EQ(report_add("bss", id, [&](wlc::BlobBuf &b) { rrm::encode_bss(b, site.heard_by(id)); }), 0);
		EXPECT_EQ(report_add("radio", id, [&](wlc::BlobBuf &b) { rrm::encode_radio(b, site.radios[id]); }), 0);
	};
	auto in_model = [&](const std::string &id) {
		report("a"); // a reports at every step
		ctrl_->power_step();
		return model_json().find(R"("id":")" + id + R"(")") != std::string::npos;
	};
	int64_t last = now_;
	for (int i = 0; i < 3; i++, now_ += cadence) {
		last = now_;
		report("c");
	}
	now_ = last + rrm::report_age_floor_s + 1;
	EXPECT_TRUE(in_model("c")) << model_json();
	now_ = last + rrm::report_age_intervals * cadence;
	EXPECT_TRUE(in_model("c")) << model_json();
	now_++;
	EXPECT_FALSE(in_model("c")) << model_json();
	EXPECT_TRUE(in_model("a"));
}

// When every AP has stopped reporting there is no model, not the last one.
TEST_F(CtrlTest, NoModelWhenAllFallSilent)
{
	start();
	report_site(rrmtest::worked_site());
	ctrl_->power_step();
	EXPECT_NE(model_json().find(R"("cost":58)"), std::string::npos);
	now_ += rrm::report_age_floor_s + 1;
	ctrl_->power_step();
	EXPECT_EQ(model_json(), "status 5");
	EXPECT_NE(log_text().find("mising data to calculate fresh model"), std::string::npos);
	// A report brings it back.
	report_site(rrmtest::worked_site());
	ctrl_->channel_step();
	EXPECT_NE(model_json().find(R"("id":"d")"), std::string::npos);
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

// An AP that cannot reach pwr_max is left alone for a while, then planned
// again, and left alone again when it still does not get there.
TEST_F(CtrlTest, UnreachablePowerPlannedAgain)
{
	start();
	rrmtest::SiteModel site;
	site.ap("a", 6, 17); // alone: no observer, so it is always turned up towards 20
	auto commands = [this] {
		std::string log = log_text();
		size_t n = 0;
		for (size_t at = 0; (at = log.find("send power command to a (20 dBm)", at)) != std::string::npos; at++)
			n++;
		return n;
	};
	std::vector<bool> sent;
	for (unsigned i = 0; i < 2 * (rrm::max_missed_moves + 1 + rrm::left_alone_steps); i++) {
		report_site(site); // a stays at 17
		now_ += 60;
		size_t before = commands();
		ctrl_->power_step();
		sent.push_back(commands() == before + 1);
	}
	ASSERT_TRUE(wlctest::pump([&] { return published_.size() == 2 * rrm::max_missed_moves; }));
	EXPECT_EQ(published_.back().message, R"({"power":20})");
	std::vector<bool> want;
	for (int round = 0; round < 2; round++) {
		want.insert(want.end(), rrm::max_missed_moves, true);
		want.insert(want.end(), 1 + rrm::left_alone_steps, false); // the step that leaves it alone, then the pause
	}
	EXPECT_EQ(sent, want);
	std::string log = log_text();
	EXPECT_NE(log.find("a did not apply power 20, leave it alone"), log.rfind("a did not apply power 20, leave it alone"));
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

// Steps without a change, one move, then steps without a change again: the
// move starts the count afresh, so the mode ends only three channel steps
// and six power steps after it.
TEST_F(CtrlTest, MoveRestartsNoChangeCount)
{
	start();
	rrmtest::SiteModel site = settled_site();
	report_site(site);
	EXPECT_EQ(call_json(object_, "agressive", R"({"enable":true,"timeout":600})"), 0);
	auto steps = [this](int channel_steps, int power_steps) {
		for (int i = 0; i < channel_steps; i++)
			ctrl_->channel_step();
		for (int i = 0; i < power_steps; i++)
			ctrl_->power_step();
	};
	steps(2, 5); // no change yet: one channel step short of the end
	ASSERT_TRUE(ctrl_->aggressive());
	site.radios["d"].power = 13; // d drifted up: one power move turns it back down
	report_site(site);
	ctrl_->power_step();
	ASSERT_NE(log_text().find("send power command to d (10 dBm)"), std::string::npos) << log_text();
	site.radios["d"].power = 10;
	report_site(site);
	steps(2, 5); // without the fresh count the mode would have ended here
	EXPECT_TRUE(ctrl_->aggressive());
	steps(1, 1);
	EXPECT_FALSE(ctrl_->aggressive());
	EXPECT_NE(log_text().find("no changes counter exceed, disable agressive mode"), std::string::npos);
}

} // namespace

namespace {

// Two pairs that hear only each other, all four on 6.
rrmtest::SiteModel two_pairs()
{
	rrmtest::SiteModel site;
	for (const char *id : {"a", "b", "c", "d"})
		site.ap(id, 6);
	site.hear("a", "b", -60);
	site.hear("c", "d", -60);
	return site;
}

size_t count_of(const std::string &text, const std::string &what)
{
	size_t n = 0;
	for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
		n++;
	return n;
}

class SiteWideCtrl : public CtrlTest {
protected:
	// Reports the site, runs a channel step, waits for what it commanded and
	// applies it to the site; the commands sent.
	size_t channel_step_applied(rrmtest::SiteModel &site)
	{
		report_site(site);
		now_ += 60;
		size_t logged = count_of(log_text(), "send channel command to ");
		size_t before = published_.size();
		ctrl_->channel_step();
		size_t sent = count_of(log_text(), "send channel command to ") - logged;
		EXPECT_TRUE(wlctest::pump([&] { return published_.size() == before + sent; }));
		for (size_t i = before; i < published_.size(); i++) {
			const std::string &path = published_[i].path; // zev/wlc/rrm/site1/ap/<id>/1/cmd/config
			std::string id = path.substr(21, path.find('/', 21) - 21);
			site.radios[id].channel = std::stoi(published_[i].message.substr(11));
		}
		return sent;
	}
	// Channel steps until one sends nothing: the steps that sent something.
	size_t steps_to_settle(rrmtest::SiteModel &site)
	{
		size_t steps = 0;
		while (steps < 10 && channel_step_applied(site) > 0)
			steps++;
		return steps;
	}
};

TEST_F(SiteWideCtrl, OptionAndConfig)
{
	start();
	EXPECT_FALSE(ctrl_->config().site_plan);
	std::string reply;
	EXPECT_EQ(call_json(object_, "config", R"({"site_plan":true,"site_moves":4,"site_gain":3})", &reply), 0);
	EXPECT_EQ(reply, R"({"channel_timer":3600,"power_timer":900,"site_plan":true,"site_moves":4,"site_gain":3,"width_overlap":false})");
	EXPECT_TRUE(ctrl_->config().site_plan);
	// Out of range: refused, the rest still taken and the values in force replied.
	EXPECT_EQ(call_json(object_, "config", R"({"site_moves":0,"width_overlap":true})", &reply), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(reply, R"({"channel_timer":3600,"power_timer":900,"site_plan":true,"site_moves":4,"site_gain":3,"width_overlap":true})");
	EXPECT_EQ(call_json(object_, "config", R"({"site_gain":101})"), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call_json(object_, "config", R"({"site_plan":false})", &reply), 0);
	EXPECT_FALSE(ctrl_->config().site_plan);
	EXPECT_EQ(call_json(object_, "config", R"({"channel_timer":60})", &reply), 0);
	EXPECT_EQ(reply, R"({"channel_timer":60,"power_timer":900})");
	stop();
	start({"-e", "-k", "2", "-t", "5"});
	EXPECT_TRUE(ctrl_->config().site_plan);
	EXPECT_EQ(ctrl_->config().site_moves, 2);
	EXPECT_EQ(ctrl_->config().site_gain, 5);
}

// The same site settles in one step instead of two: both pairs are parted at once.
TEST_F(SiteWideCtrl, FewerStepsThanTheSingleApPlan)
{
	start();
	rrmtest::SiteModel single = two_pairs();
	EXPECT_EQ(steps_to_settle(single), 2u);
	EXPECT_NE(model_json().find(R"("cost":0)"), std::string::npos);
	stop();
	start({"-e"});
	rrmtest::SiteModel site = two_pairs();
	EXPECT_EQ(channel_step_applied(site), 2u);
	EXPECT_EQ(channel_step_applied(site), 0u);
	EXPECT_NE(model_json().find(R"("cost":0)"), std::string::npos);
	EXPECT_NE(log_text().find("don't need to correct channels now"), std::string::npos);
	// Power: one AP of each pair is turned down in the same step.
	size_t before = published_.size();
	ctrl_->power_step();
	EXPECT_EQ(count_of(log_text(), "send power command to "), 2u);
	ASSERT_TRUE(wlctest::pump([&] { return published_.size() == before + 2; }));
	EXPECT_EQ(published_[before].message, R"({"power":17})");
}

// An AP that does not apply its move is left alone after a few steps, and
// the rest of the site is planned without it.
TEST_F(SiteWideCtrl, DisobedientApLeftAlone)
{
	start({"-e"});
	rrmtest::SiteModel site;
	site.ap("a", 6);
	site.ap("b", 6);
	site.hear("a", "b", -60);
	std::vector<std::string> targets;
	for (int i = 0; i < 5; i++) {
		rrmtest::SiteModel stays = site; // nobody applies anything
		ASSERT_EQ(channel_step_applied(stays), 1u);
		targets.push_back(published_.back().path);
	}
	EXPECT_EQ(targets[0], "zev/wlc/rrm/site1/ap/b/1/cmd/config");
	EXPECT_EQ(targets[2], "zev/wlc/rrm/site1/ap/b/1/cmd/config");
	EXPECT_EQ(targets[3], "zev/wlc/rrm/site1/ap/a/1/cmd/config");
	EXPECT_NE(log_text().find("b did not apply channel 1, leave it alone"), std::string::npos);
}

// Aggressive mode ends the same way: three channel steps and six power steps without a move.
TEST_F(SiteWideCtrl, AggressiveModeEndsWithoutChanges)
{
	start({"-e"});
	report_site(settled_site());
	EXPECT_EQ(call_json(object_, "agressive", R"({"enable":true,"timeout":600})"), 0);
	for (int i = 0; i < 3; i++)
		ctrl_->channel_step();
	for (int i = 0; i < 5; i++)
		ctrl_->power_step();
	EXPECT_TRUE(ctrl_->aggressive());
	ctrl_->power_step();
	EXPECT_FALSE(ctrl_->aggressive());
	EXPECT_EQ(count_of(log_text(), "send channel command"), 0u);
}

} // namespace
