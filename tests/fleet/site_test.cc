// fleetd on a real controller: the broker (TLS with client certificates for
// APs), mast -r wlc and a simulated AP running mast, with fleetd as the AP
// database in place of the recording stand-in. An AP is approved and
// adopted automatically in "auto"; in "manual" it waits, unanswered, until
// the operator approves it with fleetctl.
#include <gtest/gtest.h>

#include "ap_fixture.h"

namespace {

using namespace std::chrono_literals;
using wlctest::pump;

class FleetSite : public masttest::ApTest {
protected:
	void SetUp() override
	{
		ApTest::SetUp();
		if (IsSkipped() || HasFatalFailure())
			return;
		// The fixture's recording "db.ap" gives way to fleetd's.
		for (auto &object : objects_)
			if (object->name() == "db.ap")
				object->remove();
		ASSERT_TRUE(pump([&] { return client_.lookup("db.ap") == 0; }, wlctest::kStartLimit));
	}
	void TearDown() override
	{
		fleetd_.reset();
		ApTest::TearDown();
	}

	void start_fleetd(const std::vector<std::string> &args)
	{
		std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/fleet/fleetd", "-s", bus_->socket()};
		argv.insert(argv.end(), args.begin(), args.end());
		fleetd_ = std::make_unique<wlctest::Process>(argv, std::vector<std::string>{
			"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + root_->path() + "/fleetd.log"});
		ASSERT_TRUE(pump([&] { return client_.lookup("db.ap") != 0; }, wlctest::kStartLimit)) << fleetd_log();
	}
	std::string fleetd_log() const { return wlctest::read_text(root_->path() + "/fleetd.log"); }
	wlctest::RunResult fleetctl(const std::vector<std::string> &args)
	{
		std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/fleet/fleetctl", "-s", bus_->socket()};
		argv.insert(argv.end(), args.begin(), args.end());
		return wlctest::run(argv, 30s);
	}
	// The only AP's state as the inventory holds it ("" while there is none).
	std::string ap_state()
	{
		std::string reply;
		if (call("fleet", "list", "{}", &reply) != 0)
			return "";
		size_t at = reply.find("\"state\":\"");
		if (at == std::string::npos)
			return "";
		at += 9;
		return reply.substr(at, reply.find('"', at) - at);
	}
	std::string ap_id()
	{
		std::string reply;
		(void)call("fleet", "list", "{}", &reply);
		size_t at = reply.find("\"id\":\"");
		if (at == std::string::npos)
			return "";
		at += 6;
		return reply.substr(at, reply.find('"', at) - at);
	}

	std::unique_ptr<wlctest::Process> fleetd_;
};

TEST_F(FleetSite, AutoApprovedApIsAdopted)
{
	start_fleetd({"-m", "auto", "-n", "site1"});
	start_ap({"-h", "127.0.0.1:8883"});
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Receive JOIN_RESP from 127.0.0.1:8883"); }, 60s))
		<< ap_log() << fleetd_log();
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Connected"); }, 30s)) << ap_log();
	ASSERT_TRUE(pump([&] { return ap_state() == "adopted"; }, 30s)) << ap_state() << fleetd_log();
	std::string id = ap_id();
	EXPECT_NE(fleetd_log().find("fleetd.notice: AP " + id + " approved (auto) in site site1"), std::string::npos)
		<< fleetd_log();
	wlctest::RunResult h = fleetctl({"history", id});
	ASSERT_EQ(h.status, 0) << h.err;
	size_t join = h.out.find("  join ");
	size_t approval = h.out.find("  approval  auto");
	size_t adoption = h.out.find("  adoption");
	ASSERT_NE(join, std::string::npos) << h.out;
	ASSERT_NE(approval, std::string::npos) << h.out;
	ASSERT_NE(adoption, std::string::npos) << h.out;
	EXPECT_LT(join, approval);
	EXPECT_LT(approval, adoption);
	// What the AP told in its join, kept.
	wlctest::RunResult show = fleetctl({"--json", "show", id});
	ASSERT_EQ(show.status, 0) << show.err;
	EXPECT_NE(show.out.find("\"hostname\": \"ap-one\""), std::string::npos) << show.out;
	EXPECT_NE(show.out.find("\"ssid\": \"office\""), std::string::npos) << show.out;
	EXPECT_NE(show.out.find("BEGIN CERTIFICATE"), std::string::npos) << show.out;
}

TEST_F(FleetSite, ManualApWaitsUntilTheOperatorApprovesIt)
{
	start_fleetd({"-m", "manual"});
	start_ap({"-h", "127.0.0.1:8883"});
	ASSERT_TRUE(pump([&] { return ap_state() == "pending"; }, 60s)) << fleetd_log() << log_text();
	std::string id = ap_id();
	// Its join connection announced it, and nothing answered.
	ASSERT_TRUE(pump([&] {
		std::string reply;
		return call("fleet", "show", R"({"id":")" + id + R"("})", &reply) == 0 &&
		       reply.find("\"online\":true") != std::string::npos;
	}, 30s));
	EXPECT_FALSE(ap_logged("Receive JOIN_RESP")) << ap_log();
	EXPECT_EQ(ap_status(), "join_req");
	wlctest::RunResult r = fleetctl({"list", "--state", "pending"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find(id), std::string::npos) << r.out;

	r = fleetctl({"approve", id});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, id + ": approved (state approved)\n");
	// Answered now if its join connection is up, else at its next join request.
	ASSERT_TRUE(pump([&] { return ap_logged("mast.notice: Receive JOIN_RESP from 127.0.0.1:8883"); }, 90s))
		<< ap_log() << fleetd_log();
	ASSERT_TRUE(pump([&] { return ap_state() == "adopted"; }, 30s)) << ap_state() << fleetd_log();
	r = fleetctl({"history", id});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("pending: manual approval"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("approval  operator"), std::string::npos) << r.out;
	EXPECT_NE(r.out.find("adoption"), std::string::npos) << r.out;
}

// Commands reach the adopted AP once, not retained (the AP would ignore a
// retained one and run nothing), and are kept in its history.
TEST_F(FleetSite, CommandsReachTheAdoptedApAndAreRecorded)
{
	start_fleetd({"-m", "auto"});
	start_ap({"-f", "-h", "127.0.0.1:8883"});
	ASSERT_TRUE(pump([&] { return ap_state() == "adopted"; }, 60s)) << ap_log() << fleetd_log();
	std::string id = ap_id();
	// The firmware service's VERSION (the revision the AP runs) brings the agent to adopted.
	wlctest::MqttClient firmware("firmware", 1883);
	ASSERT_TRUE(firmware.publish("zev/wlc/firmware/version",
				     masttest::payload(R"({"version":"23.05.2","revision":"r42-abc"})"), 2, true));
	for (const std::string &filter : {"zev/wlc/control/ap/" + id + "/reboot", "zev/wlc/control/ap/" + id + "/reset",
					  std::string("zev/wlc/enforced_auth")})
		ASSERT_TRUE(pump([&] { return broker_->subscriptions(id, filter) > 0; }, 30s)) << filter << ap_log();

	wlctest::RunResult r = fleetctl({"reboot", id});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, id + ": sent: reboot\n");
	ASSERT_TRUE(pump([&] { return stubs_log() == "reboot\n"; }, 20s)) << stubs_log() << ap_log();
	EXPECT_TRUE(ap_logged("mast.warning: Receive REBOOT message"));
	r = fleetctl({"reset", id});
	ASSERT_EQ(r.status, 0) << r.err;
	ASSERT_TRUE(pump([&] { return stubs_log() == "reboot\nfirstboot -y\nreboot\n"; }, 20s)) << stubs_log();
	r = fleetctl({"enforced_auth", id, "on"});
	ASSERT_EQ(r.status, 0) << r.err;
	ASSERT_TRUE(pump([&] { return stubs_log().find("ap_enforced_auth") != std::string::npos; }, 20s)) << stubs_log();
	std::string input = wlctest::read_text(ap_path("/enforced_auth.log"));
	EXPECT_NE(input.find("\"id\": \"" + id + "\""), std::string::npos) << input;
	EXPECT_NE(input.find("\"enabled\": true"), std::string::npos) << input;
	EXPECT_FALSE(ap_logged("Ignore retained")) << ap_log();
	// Nothing was left retained: a new subscriber gets its own later marker first.
	wlctest::MqttClient observer("observer", 1883);
	ASSERT_TRUE(observer.subscribe("zev/wlc/control/ap/" + id + "/reboot"));
	ASSERT_TRUE(observer.subscribe("zev/wlc/control/ap/" + id + "/reset"));
	ASSERT_TRUE(observer.subscribe("zev/wlc/control/ap/" + id + "/marker"));
	ASSERT_TRUE(observer.subscribe("zev/wlc/enforced_auth"));
	ASSERT_TRUE(observer.publish("zev/wlc/control/ap/" + id + "/marker", {}, 2));
	wlctest::MqttMessage first;
	ASSERT_TRUE(observer.next(first, 20s));
	EXPECT_EQ(first.topic, "zev/wlc/control/ap/" + id + "/marker");
	EXPECT_FALSE(first.retain);

	r = fleetctl({"history", id});
	ASSERT_EQ(r.status, 0) << r.err;
	for (const char *detail : {"command   reboot (operator", "command   factory reset (operator",
				   "command   enforced authentication on (operator"})
		EXPECT_NE(r.out.find(detail), std::string::npos) << detail << " in " << r.out;
}

} // namespace
