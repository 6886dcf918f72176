// The adopted agent against the real controller and broker: firmware
// revision check, configuration with its delayed apply, reconfig, reset and
// reboot commands, telemetry requests and the log stream.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>
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
	// The broker's line for handing the request to the AP; the subscription
	// to the same topic is already in its log.
	auto requests_handed = [&] {
		std::istringstream log(wlctest::read_text(root_->path() + "/broker/broker.log"));
		std::string line, quoted = "'" + topic("telemetry", "request/reconfig") + "'";
		size_t n = 0;
		while (std::getline(log, line))
			n += line.find("Sending PUBLISH to " + ap_id_ + " ") != std::string::npos &&
			     line.find(quoted) != std::string::npos;
		return n;
	};
	size_t before = requests_handed();
	int status = -1;
	wlc::AsyncCall c;
	ASSERT_EQ(client_.call_async(client_.lookup("mqtt.wlc"), "request_response", args, c, nullptr,
				     [&](int s) { status = s; }), 0);
	ASSERT_TRUE(pump([&] { return requests_handed() > before; }, 5s))
		<< wlctest::read_text(root_->path() + "/broker/broker.log");
	// What the broker hands the AP after the request, the AP handles after it.
	ASSERT_TRUE(services.publish(topic("config", "config"), payload(R"({"id":"marker","config":{}})"), 2));
	ASSERT_TRUE(pump([&] { return ap_logged("received config message for other AP: marker"); }, 5s)) << ap_log();
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
	// The call given up says so.
	EXPECT_NE(ap_log().find("mast.warning: FAILED ubus probe slow: no reply within 500 ms"), std::string::npos)
		<< ap_log();
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

// A request beyond the calls in flight is answered at once with an error;
// the calls taken wait as long as they asked, here longer than half a minute.
TEST_F(Agent, TelemetryCallsInFlightAreBoundedAndTakeTheTimeTheyAsk)
{
	struct Held {
		int64_t n;
		wlc::DeferredReply reply;
	};
	std::vector<Held> held;
	static const std::array<blobmsg_policy, 1> policy = {{{"n", BLOBMSG_TYPE_INT32}}};
	wlc::BusObject probe("probe", {{"slow", {policy.begin(), policy.end()}, [&](wlc::Request &req, blob_attr *msg) {
						wlc::Fields<1> f;
						int64_t n = f.parse(policy, msg) && f.has(0) ? *f.u32(0) : -1;
						held.push_back({n, req.defer()});
						return UBUS_STATUS_OK;
					}}});
	ASSERT_EQ(probe.add(ap_bus_), UBUS_STATUS_OK);
	wlctest::MqttClient services("services", 1883);
	adopted(services);
	wlctest::MqttClient watcher("watcher", 1883);
	ASSERT_TRUE(watcher.subscribe("zev/wlc/telemetry/ap/+/response/ubus"));
	auto request = [&](int i) {
		return payload(R"({"msg_id":)" + std::to_string(i) + R"(,"data":{"object":"probe","method":"slow",)" +
			       R"("timeout":40000,"message":{"n":)" + std::to_string(i) + "}}}");
	};
	auto start = Clock::now();
	for (int i = 0; i < 40; i++)
		ASSERT_TRUE(services.publish(topic("telemetry", "request/ubus"), request(i), 2));
	// The eight beyond the bound are answered with an error, long before any
	// time limit of theirs.
	ASSERT_TRUE(pump([&] { return watcher.pending() >= 8 && held.size() == 32; }, 15s))
		<< watcher.pending() << " " << held.size() << ap_log();
	std::set<std::string> refused;
	wlctest::MqttMessage m;
	while (watcher.pending() > 0 && watcher.next(m, 0ms))
		refused.insert(fields_json(m.payload));
	std::set<std::string> want;
	for (int i = 32; i < 40; i++)
		want.insert(R"({"msg_id":)" + std::to_string(i) + R"(,"code":9})"); // UBUS_STATUS_UNKNOWN_ERROR
	EXPECT_EQ(refused, want);
	EXPECT_LT(Clock::now() - start, 20s);
	EXPECT_NE(ap_log().find("mast.warning: FAILED too many ubus calls in flight (32)"), std::string::npos);
	// A call that answers after 31 s, within its 40 s, is passed on.
	pump_for(std::chrono::duration_cast<std::chrono::milliseconds>(31s - (Clock::now() - start)));
	auto first = std::find_if(held.begin(), held.end(), [](const Held &h) { return h.n == 0; });
	ASSERT_NE(first, held.end());
	wlc::BlobBuf reply;
	reply.add("done", "late");
	ASSERT_EQ(first->reply.reply(reply), 0);
	first->reply.complete(UBUS_STATUS_OK);
	ASSERT_TRUE(pump([&] { return watcher.pending() > 0; }, 5s)) << ap_log();
	ASSERT_TRUE(watcher.next(m, 0ms));
	EXPECT_EQ(fields_json(m.payload), R"({"msg_id":0,"data":{"done":"late"},"code":0})");
}

// A VERSION that names no revision is refused and asked for again: the
// broker hands the retained one over anew, until a usable one is there.
TEST_F(Agent, AVersionWithoutRevisionIsAskedForAgain)
{
	wlctest::MqttClient services("services", 1883);
	ASSERT_NO_FATAL_FAILURE(join(services));
	ASSERT_TRUE(services.publish("zev/wlc/firmware/version", payload(R"({"version":"23.05.2"})"), 2, true));
	ASSERT_TRUE(pump([&] { return ap_logged("mast.err: Bad VERSION message!"); }, 10s)) << ap_log();
	EXPECT_TRUE(ap_logged("mast.err: Missing 'revision' field in VERSION message")) << ap_log();
	auto versions = [&] {
		std::string log = ap_log();
		size_t n = 0;
		for (size_t at = log.find("Receive VERSION message"); at != std::string::npos;
		     at = log.find("Receive VERSION message", at + 1))
			n++;
		return n;
	};
	ASSERT_TRUE(pump([&] { return versions() >= 2; }, 10s)) << ap_log();
	EXPECT_EQ(ap_status(), "connect");
	ASSERT_TRUE(services.publish("zev/wlc/firmware/version", payload(R"({"version":"23.05.2","revision":"r42-abc"})"), 2,
				     true));
	ASSERT_TRUE(pump([&] { return ap_status() == "adopted"; }, 10s)) << ap_log();
}

// Without draft the apply command starts with its -f option; a failing
// apply is logged and its file removed all the same.
TEST_F(Agent, APlainConfigurationWhoseApplyFailsIsLoggedAndRemoved)
{
	wlctest::RunResult r = wlctest::run(
		{"/bin/sh", std::string(WLC_SOURCE_DIR) + "/sim/tools/platform-stubs.sh", ap_path(""), "ap_config_device", "1"});
	ASSERT_EQ(r.status, 0) << r.err;
	wlctest::MqttClient services("services", 1883);
	adopted(services);
	ASSERT_TRUE(services.publish(topic("config", "config"), payload(R"({"id":")" + ap_id_ + R"(","config":{"a":1}})"), 2));
	ASSERT_TRUE(pump([&] { return ap_logged("mast.err: failed to apply config!"); }, 20s)) << ap_log();
	EXPECT_EQ(stubs_log(), "ap_config_device -f " + ap_path("/tmp/ap_apply.config") + "\n");
	EXPECT_EQ(wlctest::read_text(ap_path("/applied.config")), R"({"a":1})");
	EXPECT_TRUE(pump([&] { return access(ap_path("/tmp/ap_apply.config").c_str(), F_OK) != 0; }, 5s));
}

} // namespace
} // namespace masttest
