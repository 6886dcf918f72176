// How mast stops: on SIGTERM while calls it made are still unanswered.
#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>

#include "controller_fixture.h"

namespace masttest {
namespace {

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
