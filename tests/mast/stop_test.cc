// How mast stops: after a start that failed part-way, and on SIGTERM while
// calls it made are still unanswered.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>

#include "controller_fixture.h"

namespace masttest {
namespace {

class EarlyStop : public MastRunTest {};

TEST_F(EarlyStop, ControllerWithoutBusStillFinishes)
{
	bus_.reset();
	std::string log;
	EXPECT_EQ(run_mast({"-r", "wlc"}, &log), 255);
	EXPECT_NE(log.find("mast.err: Failed to connect to ubus\nmast.notice: Finish controller\n"), std::string::npos)
		<< log;
}

TEST_F(EarlyStop, ControllerWhoseStatusObjectIsTakenStillFinishes)
{
	uloop_init();
	wlc::Bus other;
	ASSERT_TRUE(other.connect(bus_->socket()));
	wlc::BusObject taken("mast", {{"status", {}, [](wlc::Request &, blob_attr *) { return 0; }}});
	ASSERT_EQ(taken.add(other), UBUS_STATUS_OK);
	std::string log;
	EXPECT_EQ(run_mast({"-r", "wlc"}, &log), 255);
	EXPECT_NE(log.find("mast.err: Failed to init status\nmast.notice: Finish controller\n"), std::string::npos) << log;
	taken.remove();
	other.close();
	uloop_done();
}

TEST_F(EarlyStop, ControllerWithoutInstanceStillFinishes)
{
	// A user name that is not UTF-8: the MQTT library refuses the instance.
	std::string log;
	EXPECT_EQ(run_mast({"-r", "wlc", "-u", "\xff\xfe"}, &log), 255);
	EXPECT_NE(log.find("mast.err: Failed to create MQTT-instance\nmast.err: Failed to init role\n"
			   "mast.notice: Finish controller\n"),
		  std::string::npos)
		<< log;
}

TEST_F(EarlyStop, BadOptionsStopNoRole)
{
	std::string log;
	EXPECT_EQ(run_mast({"-r", "wlc", "-x"}, &log), 255);
	EXPECT_EQ(log.find("Finish controller"), std::string::npos) << log;
}

TEST_F(ControllerTest, StopsCleanlyWhileDatabaseCallsAreUnanswered)
{
	std::vector<wlc::DeferredReply> parked; // the database never answers
	objects_.push_back(std::make_unique<wlc::BusObject>(
		"db.ap", std::vector<wlc::Method>{{"set", {}, [&](wlc::Request &req, blob_attr *) {
							   parked.push_back(req.defer());
							   return UBUS_STATUS_OK;
						   }}}));
	ASSERT_EQ(objects_.back()->add(client_), UBUS_STATUS_OK);
	start_mast();
	wait_subscribed({"zev/wlc/control/ap/+/online"});
	wlctest::MqttClient ap("ap1", 1883);
	ap.publish("zev/wlc/control/ap/ap1/online", payload(R"({"online":true})"), 2);
	ap.publish("zev/wlc/control/ap/ap2/online", payload(R"({"online":true})"), 2);
	ASSERT_TRUE(pump([&] { return parked.size() == 2; }));
	mast_->kill(SIGTERM);
	int status = mast_->wait(10s);
	ASSERT_TRUE(WIFEXITED(status)) << status;
	EXPECT_EQ(WEXITSTATUS(status), 0) << log_text();
	EXPECT_NE(log_text().find("mast.notice: Finish controller\n"), std::string::npos);
}

} // namespace
} // namespace masttest
