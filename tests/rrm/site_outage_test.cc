// Outages on a simulated RRM site: an AP's mast stopped, an AP whose radio
// is down and the broker restarted do not stop the other APs' reports; once
// back, the outaged APs rejoin the loop and the site converges to its plan.
#include <gtest/gtest.h>

#include "site_fixture.h"

namespace rrmtest {
namespace {

using SiteOutage = SiteTest;

TEST_F(SiteOutage, StopsOnlyTheApsConcerned)
{
	ASSERT_TRUE(all_report_again(kAps)) << log_text();

	// ap2's mast stops: the others go on reporting, ap2's reports stop.
	ASSERT_TRUE(WIFEXITED(aps_["ap2"]->stop_mast()));
	ASSERT_TRUE(all_report_again({"ap1", "ap3", "ap4"})) << log_text();
	size_t ap2_reports = reports_relayed("ap2");

	// ap4's radio goes down: it cannot scan, and nobody hears it.
	ASSERT_EQ(site_->command("link ap4 ra0 down"), "ok");
	ASSERT_TRUE(masttest::pump([&] {
		return agent_log("ap4").find("failed to start scanning channel list: missing radio interface") != std::string::npos;
	}, wlctest::kStartLimit)) << agent_log("ap4");
	ASSERT_TRUE(all_report_again({"ap1", "ap3"})) << log_text();

	// The broker restarts (and the controller's services put the retained
	// VERSION back): the masts still running reconnect and subscribe again,
	// and the reports of the APs still able to scan flow again.
	std::map<std::string, int> before;
	for (const char *ap : {"ap1", "ap3", "ap4"})
		before[ap] = ap_subscriptions(ap);
	int ctrl_before = broker_->subscriptions("wlc", "zev/wlc/rrm/site1/ap/+/+/report/+");
	broker_.reset();
	broker_ = std::make_unique<wlctest::Broker>(*root_, wlctest::BrokerOptions{1883, 8883, &pki_, true});
	ASSERT_NO_FATAL_FAILURE(masttest::publish_version());
	for (const char *ap : {"ap1", "ap3", "ap4"})
		ASSERT_TRUE(ap_subscribed(ap, before[ap])) << aps_[ap]->mast_log();
	ASSERT_TRUE(masttest::wait_subscribed(*broker_, "wlc", "zev/wlc/rrm/site1/ap/+/+/report/+", ctrl_before)) << log_text();
	ASSERT_TRUE(all_report_again({"ap1", "ap3"})) << log_text();
	EXPECT_EQ(reports_relayed("ap2"), ap2_reports);

	// Both come back and rejoin the loop: their reports arrive, and the site
	// converges to the plan of the whole site.
	aps_["ap2"]->start_mast();
	ASSERT_EQ(site_->command("link ap4 ra0 up"), "ok");
	ASSERT_TRUE(all_report_again(kAps)) << log_text();
	ASSERT_EQ(call("rrm_ctrl.site1.0", "config", R"({"channel_timer":10})"), 0);
	ASSERT_TRUE(masttest::pump([&] { return channels() == "6 11 1 6 "; }, 90s)) << channels() << ctrl_log();
}

} // namespace
} // namespace rrmtest
