// The adopted agent against the real controller and broker: firmware
// revision check, configuration with its delayed apply, reconfig, reset and
// reboot commands, telemetry requests and the log stream.
#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "ap_fixture.h"

namespace masttest {
namespace {

using Clock = std::chrono::steady_clock;

class Agent : public ApTest {
protected:
	std::string topic(const std::string &area, const std::string &rest) const
	{
		return "zev/wlc/" + area + "/ap/" + ap_id_ + "/" + rest;
	}
	void adopted(wlctest::MqttClient &services)
	{
		adopt(services);
		ASSERT_TRUE(pump([&] { return ap_status() == "adopted"; }, 15s)) << ap_log();
		// The last subscription of the adopted state is in place once the
		// reconfig topic is acknowledged; the broker log shows it.
		ASSERT_TRUE(pump([&] {
			return wlctest::read_text(root_->path() + "/broker/broker.log").find(topic("telemetry", "request/reconfig")) !=
			       std::string::npos;
		}, 10s));
	}
	void pump_for(std::chrono::milliseconds d)
	{
		auto end = Clock::now() + d;
		pump([&] { return Clock::now() >= end; }, d + 1s);
	}
};

TEST_F(Agent, SameRevisionInAnotherCaseAdopts)
{
	wlctest::MqttClient services("services", 1883);
	adopted(services);
	std::string log = ap_log();
	EXPECT_NE(log.find("mast.debug: Same revision"), std::string::npos);
	EXPECT_NE(log.find("mast.info: Status: ADOPTED"), std::string::npos);
	std::string status;
	ASSERT_EQ(ap_call("mast", "status", "{}", &status), 0);
	EXPECT_EQ(status, R"({"role":"ap","status":"adopted","description":"ADOPTED to %s","peers":["127.0.0.1:8883"]})");
}

TEST_F(Agent, OtherRevisionWaitsForFirmwareAndBadVersionsAreAskedForAgain)
{
	wlctest::MqttClient services("services", 1883);
	adopt(services, "r43");
	ASSERT_TRUE(pump([&] { return ap_status() == "fw_update"; }, 15s)) << ap_log();
	EXPECT_NE(ap_log().find("mast.debug: Mismatch revisions: I am 'r42-abc' and WLC is 'r43'"), std::string::npos);
	EXPECT_NE(ap_log().find("Waiting for FIRMWARE message from topic zev/wlc/firmware/23.05.2/"), std::string::npos);
	// A version that would be a wildcard in the firmware topic is refused.
	ASSERT_TRUE(services.publish("zev/wlc/firmware/version", payload(R"({"version":"2.0/+","revision":"r44"})"), 2, true));
	ASSERT_TRUE(pump([&] { return ap_logged("mast.err: Bad VERSION message!"); }, 10s)) << ap_log();
	EXPECT_NE(ap_log().find("mast.err: Unusable version '2.0/+' in VERSION message"), std::string::npos);
	// Asked for again after a pause, a good one is taken.
	ASSERT_TRUE(services.publish("zev/wlc/firmware/version", payload(R"({"revision":"r42-abc"})"), 2, true));
	ASSERT_TRUE(pump([&] { return ap_status() == "adopted"; }, 10s)) << ap_log();
}

TEST_F(Agent, ConfigurationIsAppliedOnceTenSecondsAfterTheLast)
{
	wlctest::MqttClient services("services", 1883);
	adopted(services);
	std::string config = topic("config", "config");
	ASSERT_TRUE(services.publish(config, payload(R"({"id":")" + ap_id_ + R"(","config":{"ssid":"first"}})"), 2));
	ASSERT_TRUE(pump([&] { return ap_logged("receive config message, apply it in 10 seconds"); }, 10s));
	pump_for(5s);
	ASSERT_TRUE(services.publish(config, payload(R"({"id":")" + ap_id_ + R"(","config":{"ssid":"second","n":2},"draft":true})"), 2));
	auto second = Clock::now();
	ASSERT_TRUE(services.publish(config, payload(R"({"id":"someone-else","config":{"ssid":"x"}})"), 2));
	ASSERT_TRUE(pump([&] { return ap_logged("received config message for other AP: someone-else"); }, 10s));
	ASSERT_TRUE(pump([&] { return !stubs_log().empty(); }, 20s)) << ap_log();
	EXPECT_GE(Clock::now() - second, 9500ms);
	EXPECT_EQ(stubs_log(), "ap_config_device -d -f " + ap_path("/tmp/ap_apply.config") + "\n");
	EXPECT_EQ(wlctest::read_text(ap_path("/applied.config")), R"({"ssid":"second","n":2})");
	ASSERT_TRUE(pump([&] { return access(ap_path("/tmp/ap_apply.config").c_str(), F_OK) != 0; }, 5s));
	EXPECT_NE(ap_log().find("mast.notice: apply received configuration"), std::string::npos);
}

TEST_F(Agent, ReconfigIsAnsweredOnceAConfigurationIsPending)
{
	wlctest::MqttClient services("services", 1883);
	adopted(services);
	wlc::BlobBuf args;
	ASSERT_TRUE(args.add_json(R"({"ap_id":")" + ap_id_ + R"(","command":"reconfig","timeout":20000})"));
	int status = -1;
	wlc::AsyncCall c;
	ASSERT_EQ(client_.call_async(client_.lookup("mqtt.wlc"), "request_response", args, c, nullptr,
				     [&](int s) { status = s; }), 0);
	ASSERT_TRUE(pump([&] {
		return wlctest::read_text(root_->path() + "/broker/broker.log").find("request/reconfig") != std::string::npos;
	}, 5s));
	EXPECT_EQ(status, -1); // nothing pending yet: no answer
	ASSERT_TRUE(services.publish(topic("config", "config"), payload(R"({"id":")" + ap_id_ + R"(","config":{}})"), 2));
	ASSERT_TRUE(pump([&] { return status != -1; }, 10s)) << ap_log();
	EXPECT_EQ(status, 0);
	EXPECT_NE(ap_log().find("notify controller about received config via reconfig comamnd response"), std::string::npos);
}

TEST_F(Agent, ResetAndRebootReachOnlyTheStubsAndRetainedOnesAreIgnored)
{
	wlctest::MqttClient services("services", 1883);
	// A reboot left retained on the broker before the AP came.
	ASSERT_TRUE(services.publish("zev/wlc/control/ap/all/reboot", payload("{}"), 2, true));
	adopted(services);
	ASSERT_TRUE(pump([&] { return ap_logged("Ignore retained REBOOT message"); }, 10s)) << ap_log();
	EXPECT_EQ(stubs_log(), "");
	ASSERT_TRUE(services.publish(topic("control", "reset"), payload("{}"), 2));
	ASSERT_TRUE(pump([&] { return stubs_log() == "firstboot -y\nreboot\n"; }, 10s)) << stubs_log();
	ASSERT_TRUE(services.publish(topic("control", "reboot"), {}, 2));
	ASSERT_TRUE(pump([&] { return stubs_log() == "firstboot -y\nreboot\nreboot\n"; }, 10s)) << stubs_log();
	EXPECT_NE(ap_log().find("mast.warning: Receive RESET message"), std::string::npos);
}

TEST_F(Agent, TelemetryRequestsAreAnsweredByLocalMethods)
{
	std::vector<wlc::DeferredReply> never;
	wlc::BusObject probe("probe", {
		{"two", {}, [](wlc::Request &req, blob_attr *msg) {
			 wlc::BlobBuf a, b;
			 a.add("part", "one").add_fields(msg);
			 b.add("part", "two");
			 req.reply(a);
			 req.reply(b);
			 return UBUS_STATUS_OK;
		 }},
		{"slow", {}, [&](wlc::Request &req, blob_attr *) {
			 never.push_back(req.defer());
			 return UBUS_STATUS_OK;
		 }}});
	ASSERT_EQ(probe.add(ap_bus_), UBUS_STATUS_OK);
	wlctest::MqttClient services("services", 1883);
	adopted(services);
	wlctest::MqttClient watcher("watcher", 1883);
	ASSERT_TRUE(watcher.subscribe("zev/wlc/telemetry/ap/+/response/ubus"));
	std::string reply;
	ASSERT_EQ(call("mqtt.wlc", "request_response", R"({"ap_id":")" + ap_id_ +
		       R"(","command":"ubus","data":{"object":"probe","method":"two","message":{"q":1}}})", &reply), 0);
	EXPECT_EQ(reply, R"({"part":"one","q":1})");
	wlctest::MqttMessage m;
	ASSERT_TRUE(watcher.next(m));
	EXPECT_EQ(fields_json(m.payload), R"({"msg_id":0,"data":{"part":"one","q":1},"data":{"part":"two"},"code":0})");
	// An object that is not there and a call slower than its limit get no answer.
	EXPECT_EQ(call("mqtt.wlc", "request_response", R"({"ap_id":")" + ap_id_ +
		       R"(","command":"ubus","timeout":1500,"data":{"object":"nothing","method":"x"}})"), UBUS_STATUS_TIMEOUT);
	EXPECT_NE(ap_log().find("mast.warning: FAILED to find 'nothing' ubus object"), std::string::npos);
	EXPECT_EQ(call("mqtt.wlc", "request_response", R"({"ap_id":")" + ap_id_ +
		       R"(","command":"ubus","timeout":2500,"data":{"object":"probe","method":"slow","timeout":500}})"),
		  UBUS_STATUS_TIMEOUT);
	EXPECT_EQ(never.size(), 1u);
	EXPECT_FALSE(watcher.next(m, 200ms));
}

TEST_F(Agent, LogEntriesSplitAcrossWritesReachTheControllersLog)
{
	start_ap_service("sim_log", {"-c", "7"});
	ASSERT_TRUE(pump([&] { return ap_bus_.lookup("log") != 0; }, 10s));
	wlctest::MqttClient services("services", 1883);
	adopted(services);
	std::string readers;
	ASSERT_TRUE(pump([&] { return ap_call("log", "readers", "{}", &readers) == 0 && readers == R"({"readers":1})"; }, 10s));
	ASSERT_EQ(ap_call("log", "add", R"({"msg":"first line","priority":5})"), 0);
	ASSERT_EQ(ap_call("log", "add", R"({"msg":"second line","priority":3})"), 0);
	std::string want1 = R"(log.add {"msg":"first line","priority":5,"hostname":")" + ap_id_ + R"("})";
	std::string want2 = R"(log.add {"msg":"second line","priority":3,"hostname":")" + ap_id_ + R"("})";
	auto has = [&](const std::string &w) { return std::find(calls_.begin(), calls_.end(), w) != calls_.end(); };
	ASSERT_TRUE(pump([&] { return has(want1) && has(want2); }, 10s)) << ap_log();
	// An entry header claiming less than its own size breaks the stream: it
	// is closed and asked for anew, and entries flow again.
	ASSERT_EQ(ap_call("log", "inject", R"({"hex":"00000002"})"), 0);
	ASSERT_TRUE(pump([&] { return ap_logged("mast.warning: Log stream bad entry length, restarting it"); }, 10s));
	ASSERT_TRUE(pump([&] {
		(void)ap_call("log", "add", R"({"msg":"after","priority":6})");
		return ap_call("log", "readers", "{}", &readers) == 0 && readers == R"({"readers":1})" &&
		       has(R"(log.add {"msg":"after","priority":6,"hostname":")" + ap_id_ + R"("})");
	}, 15s)) << ap_log() << readers;
}

} // namespace
} // namespace masttest

namespace masttest {
namespace {

TEST_F(Agent, EnforcedAuthenticationRunsTheLocalCommand)
{
	wlctest::MqttClient services("services", 1883);
	ASSERT_TRUE(services.subscribe("zev/wlc/control/ap/+/join_request"));
	start_ap({"-f", "-h", "127.0.0.1:8883"});
	answer_join(services);
	ASSERT_TRUE(services.publish("zev/wlc/firmware/version", payload(R"({"revision":"r42-abc"})"), 2, true));
	ASSERT_TRUE(pump([&] { return ap_status() == "adopted"; }, 20s)) << ap_log();
	ASSERT_TRUE(pump([&] {
		return wlctest::read_text(root_->path() + "/broker/broker.log").find("zev/wlc/enforced_auth") != std::string::npos;
	}, 10s));
	ASSERT_TRUE(services.publish("zev/wlc/enforced_auth", payload(R"({"enabled":true})"), 2));
	ASSERT_TRUE(pump([&] { return stubs_log() == "ap_enforced_auth\n"; }, 10s)) << stubs_log() << ap_log();
	std::string input = wlctest::read_text(ap_path("/enforced_auth.log"));
	EXPECT_NE(input.find("\"topic\": \"zev/wlc/enforced_auth\""), std::string::npos) << input;
	EXPECT_NE(input.find("\"enabled\": true"), std::string::npos) << input;
}

TEST_F(Agent, AConfigurationThatCannotBeStoredIsNotApplied)
{
	wlctest::MqttClient services("services", 1883);
	adopted(services);
	// The temporary file of the pending configuration cannot be made.
	std::filesystem::create_directories(ap_path("/tmp/ap_apply.config.tmp/x"));
	ASSERT_TRUE(services.publish(topic("config", "config"), payload(R"({"id":")" + ap_id_ + R"(","config":{"a":1}})"), 2));
	ASSERT_TRUE(pump([&] { return ap_logged("mast.err: failed to dump JSON config to tmp file"); }, 10s)) << ap_log();
	EXPECT_EQ(ap_log().find("apply it in"), std::string::npos);
	EXPECT_FALSE(std::filesystem::exists(ap_path("/tmp/ap_apply.config")));
}

TEST_F(Agent, TelemetryCallsInFlightAreBoundedAndTheirTimeLimitClamped)
{
	std::vector<wlc::DeferredReply> held;
	wlc::BusObject probe("probe", {{"slow", {}, [&](wlc::Request &req, blob_attr *) {
						held.push_back(req.defer());
						return UBUS_STATUS_OK;
					}}});
	ASSERT_EQ(probe.add(ap_bus_), UBUS_STATUS_OK);
	wlctest::MqttClient services("services", 1883);
	adopted(services);
	for (int i = 0; i < 40; i++)
		ASSERT_TRUE(services.publish(topic("telemetry", "request/ubus"),
					     payload(R"({"msg_id":)" + std::to_string(i) +
						     R"(,"data":{"object":"probe","method":"slow","timeout":2000000000}})"), 2));
	auto refused = [&] {
		std::string log = ap_log();
		size_t n = 0;
		for (size_t at = log.find("FAILED too many ubus calls in flight (32)"); at != std::string::npos;
		     at = log.find("FAILED too many ubus calls in flight (32)", at + 1))
			n++;
		return n;
	};
	ASSERT_TRUE(pump([&] { return refused() == 8; }, 15s)) << ap_log();
	ASSERT_TRUE(pump([&] { return held.size() == 32; }, 5s)) << held.size();
	// The calls asked for a limit of 23 days and get 30 s: then they are
	// given up and new requests are taken again.
	auto start = Clock::now();
	auto last = start;
	int next_id = 40;
	ASSERT_TRUE(pump([&] {
		if (held.size() > 32)
			return true;
		// One more request once the last was refused, at most twice a second.
		if (Clock::now() - last >= 500ms && refused() == static_cast<size_t>(next_id - 32)) {
			last = Clock::now();
			(void)services.publish(topic("telemetry", "request/ubus"),
					       payload(R"({"msg_id":)" + std::to_string(next_id++) +
						       R"(,"data":{"object":"probe","method":"slow"}})"), 2);
		}
		return false;
	}, 90s)) << ap_log();
	EXPECT_GE(Clock::now() - start, 25s);
	EXPECT_EQ(held.size(), 33u);
}

} // namespace
} // namespace masttest
