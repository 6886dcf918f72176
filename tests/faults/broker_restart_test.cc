// The broker killed while an adopted AP, the controller and a stream of
// presence and join messages are busy, then started again: the controller
// and the AP connect again and renew their subscriptions, the AP's retained
// presence is on the new broker, and the controller's database sees the AP
// online again and takes new joins.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "ap_fixture.h"

namespace {

using wlctest::pump;
using namespace std::chrono_literals;
using masttest::payload;

class BrokerRestart : public masttest::ApTest {
protected:
	size_t count(const std::string &text, const std::string &line) const
	{
		size_t n = 0;
		for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
			n++;
		return n;
	}
	// A database call holding every one of needles.
	bool db_saw(const std::vector<std::string> &needles) const
	{
		return std::any_of(calls_.begin(), calls_.end(), [&](const std::string &c) {
			return std::all_of(needles.begin(), needles.end(),
					   [&](const std::string &n) { return c.find(n) != std::string::npos; });
		});
	}
	// Join requests and presence of other APs, as a loaded controller sees them.
	void load(wlctest::MqttClient &aps, int from, int n)
	{
		for (int i = from; i < from + n; i++) {
			std::string id = "ap-load-" + std::to_string(i);
			aps.publish("zev/wlc/control/ap/" + id + "/join_request",
				    payload(R"({"fw_version":"1.0","fw_revision":"r1","model":"zev-ap1","serial":"S)" +
					    std::to_string(i) + R"(","cert":"PEM"})"), 2);
			aps.publish("zev/wlc/control/ap/" + id + "/online", payload(R"({"online":true})"), 2, true);
		}
	}
};

TEST_F(BrokerRestart, EverythingComesBackUnderLoad)
{
	{
		wlctest::MqttClient services("services", 1883);
		adopt(services);
		ASSERT_TRUE(pump([&] { return ap_status() == "adopted"; }, 20s)) << ap_log();
	}
	ASSERT_TRUE(pump([&] { return db_saw({R"("id":")" + ap_id_ + '"', R"("online":true)"}); })) << log_text();
	// Other APs keep publishing; the broker dies with their messages in flight.
	wlctest::MqttClient aps("load", 1883);
	load(aps, 0, 50);
	broker_->process().kill(SIGKILL);
	broker_->process().wait(20s);
	calls_.clear();
	size_t ap_connections = count(ap_log(), "mast.notice: Connected");
	start_broker(); // returns once the controller is connected again

	// The controller: its bridge object and subscriptions are back.
	ASSERT_TRUE(pump([&] { return has_object("mqtt.wlc"); }, wlctest::kStartLimit)) << log_text();
	wait_subscribed({"zev/wlc/control/ap/+/join_request", "zev/wlc/control/ap/+/online"});
	// The AP: connected again and shown online again.
	ASSERT_TRUE(pump([&] { return count(ap_log(), "mast.notice: Connected") > ap_connections; },
			 wlctest::kStartLimit)) << ap_log();
	ASSERT_TRUE(pump([&] { return db_saw({R"("id":")" + ap_id_ + '"', R"("online":true)"}); }, wlctest::kStartLimit))
		<< log_text() << "\nThe AP's log:\n" << ap_log() << "\nThe broker's log:\n" << broker_->log_text();
	// Its presence is retained on the new broker.
	wlctest::MqttClient watcher("watcher", 1883);
	ASSERT_TRUE(watcher.subscribe("zev/wlc/control/ap/" + ap_id_ + "/online"));
	wlctest::MqttMessage m;
	ASSERT_TRUE(watcher.next(m, 10s));
	EXPECT_TRUE(m.retain);
	EXPECT_NE(masttest::fields_json(m.payload).find(R"("online":true)"), std::string::npos);
	// New work is taken as before. It comes from a client of its own: the
	// first one's messages from before the restart are resent at its
	// library's pace, which is not what is tested here.
	wlctest::MqttClient more("load-more", 1883);
	load(more, 50, 5);
	ASSERT_TRUE(pump([&] { return db_saw({R"("id":"ap-load-54","cert":"PEM")"}); }, wlctest::kStartLimit))
		<< log_text() << "\nThe broker's log:\n" << broker_->log_text();
	EXPECT_TRUE(mast_->running());
	EXPECT_TRUE(ap_mast_->running());
}

} // namespace
