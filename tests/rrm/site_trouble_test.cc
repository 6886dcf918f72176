// Trouble on a simulated RRM site: reports under hostile AP ids and garbage
// reports, as any client of the broker can publish them, change nothing
// outside the store; an AP's mast stopped, an AP whose radio is down and the
// broker restarted do not stop the other APs' reports; once back, the
// outaged APs rejoin the loop and the site converges to its plan.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "mqtt_client.h"
#include "site_fixture.h"

namespace rrmtest {
namespace {

// On an open broker: hostile report ids reach the controller only through a
// broker that lets anyone publish anything, which is what this test needs to
// show rrm_ctrl's own refusals.
class SiteTrouble : public SiteTest {
protected:
	bool locked_down() const override { return false; }
	void hostile_reports_stay_out();
	void mast_and_radio_down_stop_only_their_aps();
	void broker_restart_stops_nobody();
	void outaged_aps_rejoin();

	size_t ap2_reports_ = 0;
};

std::set<std::string> names_in(const std::string &dir)
{
	std::set<std::string> out;
	std::error_code ec;
	for (const auto &e : std::filesystem::directory_iterator(dir, ec))
		out.insert(e.path().filename().string());
	return out;
}

size_t count(const std::string &text, const std::string &what)
{
	size_t n = 0;
	for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
		n++;
	return n;
}

void SiteTrouble::hostile_reports_stay_out()
{
	// Reports under ids that would name other places, and garbage.
	{
		wlctest::MqttClient intruder("intruder", 1883);
		std::string base = "zev/wlc/rrm/site1/ap/";
		masttest::Bytes radio = masttest::payload(R"({"ch":6,"pwr":20,"bssid":["02:11:22:33:44:55"]})");
		for (const std::string &hostile : {std::string(".."), std::string(".hidden"), std::string(40, 'a')})
			ASSERT_TRUE(intruder.publish(base + hostile + "/0/report/radio", radio, 1));
		ASSERT_TRUE(intruder.publish(base + id("ap1") + "/0/report/radio", {1, 2, 3, 4, 5, 6, 7, 8, 9}, 1));
		ASSERT_TRUE(intruder.publish(base + id("ap1") + "/0/report/bss", masttest::payload(R"({"scan":"x"})"), 1));
		ASSERT_TRUE(masttest::pump([&] {
			return count(ctrl_log(), "refused radio report: bad AP id") == 3 &&
			       log_text().find("Bad RRM radio report message from " + id("ap1")) != std::string::npos;
		}, wlctest::kStartLimit)) << ctrl_log() << log_text();
	}
	ASSERT_TRUE(all_report_again(kAps)) << log_text();
	std::string store = root_->path() + "/etc/wlc/rrm";
	EXPECT_EQ(names_in(store), std::set<std::string>{"radio0"});
	std::set<std::string> ids;
	for (const std::string &ap : kAps)
		ids.insert(id(ap));
	EXPECT_EQ(names_in(store + "/radio0"), ids);
	std::string list;
	ASSERT_EQ(call("rrm_ctrl.site1.0", "report_list", R"({"type":"radio","limit":1})", &list), 0);
	EXPECT_EQ(count(list, "\"reports\""), 4u) << list;

}

void SiteTrouble::mast_and_radio_down_stop_only_their_aps()
{
	// ap2's mast stops: the others go on reporting, ap2's reports stop.
	ASSERT_EQ(aps_["ap2"]->stop_mast(), 0) << aps_["ap2"]->mast_log(); // a clean stop
	ASSERT_TRUE(all_report_again({"ap1", "ap3", "ap4"})) << log_text();
	ap2_reports_ = reports_relayed("ap2");

	// ap4's radio goes down: it cannot scan, and nobody hears it.
	ASSERT_EQ(site_->command("link ap4 ra0 down"), "ok");
	ASSERT_TRUE(masttest::pump([&] {
		return agent_log("ap4").find("failed to start scanning channel list: missing radio interface") != std::string::npos;
	}, wlctest::kStartLimit)) << agent_log("ap4");
	ASSERT_TRUE(all_report_again({"ap1", "ap3"})) << log_text();

}

void SiteTrouble::broker_restart_stops_nobody()
{
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
	EXPECT_EQ(reports_relayed("ap2"), ap2_reports_);
}

void SiteTrouble::outaged_aps_rejoin()
{
	// Both come back and rejoin the loop: their reports arrive, and the site
	// converges to the plan of the whole site.
	aps_["ap2"]->start_mast();
	ASSERT_EQ(site_->command("link ap4 ra0 up"), "ok");
	ASSERT_TRUE(all_report_again(kAps)) << log_text();
	ASSERT_EQ(call("rrm_ctrl.site1.0", "config", R"({"channel_timer":10})"), 0);
	ASSERT_TRUE(masttest::pump([&] { return channels() == "6 11 1 6 "; }, 90s)) << channels() << ctrl_log();
}

TEST_F(SiteTrouble, HostileReportsAndOutagesStopOnlyWhatTheyHit)
{
	ASSERT_TRUE(all_report_again(kAps)) << log_text();
	ASSERT_NO_FATAL_FAILURE(hostile_reports_stay_out());
	ASSERT_NO_FATAL_FAILURE(mast_and_radio_down_stop_only_their_aps());
	ASSERT_NO_FATAL_FAILURE(broker_restart_stops_nobody());
	ASSERT_NO_FATAL_FAILURE(outaged_aps_rejoin());
}

} // namespace
} // namespace rrmtest
