// mast in the controller role against the real broker, with APs and
// controller services played by the test.
#include <gtest/gtest.h>

#include <csignal>
#include <algorithm>
#include <fstream>
#include <sstream>
#include <thread>

#include "controller_fixture.h"

namespace masttest {
namespace {

TEST_F(ControllerTest, StatusBridgeAndBrokerLossAndReturn)
{
	start_mast();
	std::string status;
	ASSERT_EQ(call("mast", "status", "{}", &status), 0);
	EXPECT_EQ(status, R"({"role":"wlc","status":"wlc","description":"CONTROLLER"})");
	ASSERT_TRUE(pump([&] { return wlctest::read_text(root_->path() + "/init.log") == "wlc_init \n"; }));

	broker_.reset(); // the broker goes away
	auto lost = std::chrono::steady_clock::now();
	ASSERT_TRUE(pump([&] { return !has_object("mqtt.wlc"); }, 3s));
	EXPECT_LT(std::chrono::steady_clock::now() - lost, 2s);
	broker_ = std::make_unique<wlctest::Broker>(*root_, wlctest::BrokerOptions{1883, 0, nullptr, false});
	ASSERT_TRUE(pump([&] { return has_object("mqtt.wlc"); }, 15s));
	// Initialisation runs again on the new connection.
	ASSERT_TRUE(pump([&] { return wlctest::read_text(root_->path() + "/init.log") == "wlc_init \nwlc_init \n"; }));
	EXPECT_NE(log_text().find("mast.debug: Disconnected"), std::string::npos);
	// The loss is told once with its cause, not at every failed attempt to reconnect.
	const std::string log = log_text(), lost_line = "mast.notice: MQTT connection to localhost:1883 lost: ";
	EXPECT_NE(log.find(lost_line), std::string::npos) << log;
	EXPECT_EQ(log.find(lost_line), log.rfind(lost_line)) << log;
}

// The bridge object cannot be registered while another client holds its
// name: mast says so once and takes the name as soon as it is free, on the
// same broker connection.
TEST_F(ControllerTest, BridgeObjectIsRegisteredOnceItsNameIsFree)
{
	stand_in("mqtt.wlc", {"send"});
	start_mast({"-d"}, false);
	const std::string failed = "Failed to add ubus object mqtt.wlc";
	ASSERT_TRUE(pump([&] { return log_text().find(failed) != std::string::npos; }, wlctest::kStartLimit)) << log_text();
	objects_.back()->remove();
	ASSERT_TRUE(pump([&] { return log_text().find("Added ubus object mqtt.wlc") != std::string::npos; }, 10s))
		<< log_text();
	// The name is mast's now: what is sent through it reaches the broker.
	wlctest::MqttClient sub("watcher", 1883);
	ASSERT_TRUE(sub.subscribe("zev/wlc/test/#"));
	ASSERT_EQ(call("mqtt.wlc", "send", R"({"path":"zev/wlc/test/late","message":{"k":"v"},"qos":1})"), 0);
	wlctest::MqttMessage m;
	ASSERT_TRUE(sub.next(m)) << log_text();
	EXPECT_EQ(m.topic, "zev/wlc/test/late");
	EXPECT_TRUE(std::none_of(calls_.begin(), calls_.end(), [](const std::string &c) { return c.find("late") != std::string::npos; }));
	const std::string log = log_text();
	EXPECT_EQ(log.find(failed), log.rfind(failed)) << log; // said once
	EXPECT_EQ(log.find("mast.debug: Disconnected"), std::string::npos) << log;
}

TEST_F(ControllerTest, SendPublishesTheMessageAsReceived)
{
	start_mast({"-d"});
	wlctest::MqttClient sub("watcher", 1883);
	ASSERT_TRUE(sub.subscribe("zev/wlc/test/#"));
	ASSERT_EQ(call("mqtt.wlc", "send", R"({"path":"zev/wlc/test/a","message":{"k":"v"},"qos":1})"), 0);
	wlctest::MqttMessage m;
	ASSERT_TRUE(sub.next(m));
	EXPECT_EQ(m.topic, "zev/wlc/test/a");
	EXPECT_EQ(m.payload[0], 0x82); // a named table, header included
	EXPECT_EQ(fields_json(m.payload), R"({"k":"v"})");
	ASSERT_EQ(call("mqtt.wlc", "send", R"({"path":"zev/wlc/test/empty"})"), 0);
	ASSERT_TRUE(sub.next(m));
	EXPECT_TRUE(m.payload.empty());
	EXPECT_EQ(call("mqtt.wlc", "send", R"({"path":"zev/wlc/test/b","qos":3})"), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call("mqtt.wlc", "send", R"({"path":"zev/wlc/test/b","qos":-1})"), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call("mqtt.wlc", "send", R"({"message":{}})"), UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_FALSE(sub.next(m, 300ms));
	EXPECT_EQ(wlctest::read_text(root_->path() + "/init.log"), "wlc_init -d\n");
}

TEST_F(ControllerTest, RequestsAnsweredUnansweredAndBatched)
{
	start_mast();
	wait_subscribed({"zev/wlc/telemetry/ap/+/response/+"});
	wlctest::MqttClient ap("ap-side", 1883);
	ASSERT_TRUE(ap.subscribe("zev/wlc/telemetry/ap/+/request/+"));
	// Answer every request to ap1 and ap2, never ap3.
	std::thread answerer([&] {
		wlctest::MqttMessage m;
		int answered = 0;
		while (answered < 3 && ap.next(m, 10s)) {
			auto levels = m.topic;
			std::string id = levels.substr(std::string("zev/wlc/telemetry/ap/").size());
			id = id.substr(0, id.find('/'));
			if (id == "ap3")
				continue;
			std::string fields = fields_json(m.payload);
			std::string msg_id = fields.substr(fields.find(':') + 1, fields.find_first_of(",}") - fields.find(':') - 1);
			ap.publish("zev/wlc/telemetry/ap/" + id + "/response/ubus",
				   payload(R"({"msg_id":)" + msg_id + R"(,"data":{"from":")" + id + R"("},"code":0})"), 2, true);
			answered++;
		}
	});
	std::string reply;
	ASSERT_EQ(call("mqtt.wlc", "request_response",
		       R"({"msg_id":77,"ap_id":"ap1","command":"ubus","data":{"object":"vigil","method":"health"}})", &reply), 0);
	EXPECT_EQ(reply, R"({"from":"ap1"})");
	ASSERT_EQ(call("mqtt.wlc", "request_response_batch",
		       R"({"ap_id":["ap1","ap2","ap3"],"command":"ubus","timeout":800})", &reply), 0);
	EXPECT_EQ(reply, R"({"ap1":{"from":"ap1"},"ap2":{"from":"ap2"}})");
	answerer.join();
	auto start = std::chrono::steady_clock::now();
	EXPECT_EQ(call("mqtt.wlc", "request_response", R"({"ap_id":"ap3","command":"ubus"})"), UBUS_STATUS_TIMEOUT);
	EXPECT_GE(std::chrono::steady_clock::now() - start, 2900ms);
	EXPECT_EQ(call("mqtt.wlc", "request_response_batch", R"({"ap_id":[],"command":"ubus"})"),
		  UBUS_STATUS_INVALID_ARGUMENT);
}

TEST_F(ControllerTest, RequestIdsCountFromZero)
{
	start_mast();
	wlctest::MqttClient ap("ap-side", 1883);
	ASSERT_TRUE(ap.subscribe("zev/wlc/telemetry/ap/+/request/+"));
	call("mqtt.wlc", "request_response", R"({"msg_id":9,"ap_id":"ap1","command":"ubus","timeout":100})");
	call("mqtt.wlc", "request_response", R"({"msg_id":9,"ap_id":"ap1","command":"reconfig","timeout":100})");
	wlctest::MqttMessage first, second;
	ASSERT_TRUE(ap.next(first));
	ASSERT_TRUE(ap.next(second));
	EXPECT_EQ(first.topic, "zev/wlc/telemetry/ap/ap1/request/ubus");
	EXPECT_EQ(fields_json(first.payload), R"({"msg_id":0})");
	EXPECT_EQ(fields_json(second.payload), R"({"msg_id":1})");
}

TEST_F(ControllerTest, JoinRequestsAndPresenceReachTheDatabase)
{
	stand_in("db.ap", {"set"});
	start_mast();
	wait_subscribed({"zev/wlc/control/ap/+/join_request", "zev/wlc/control/ap/+/online"});
	wlctest::MqttClient ap("ap1", 1883);
	ap.publish("zev/wlc/control/ap/ap1-a3-b4-c5/join_request",
		   payload(R"({"fw_version":"1.0","fw_revision":"r1","model":"zev-ap1","serial":"SN1","cert":"PEM",
			       "mac":"00:11:22:a3:b4:c5","hostname":"ap1","config":{"ssid":"x"}})"), 2);
	ap.publish("zev/wlc/control/ap/ap2/join_request",
		   payload(R"({"fw_version":"1.0","fw_revision":"r1","model":"zev-ap1","serial":"SN2","cert":"PEM"})"), 2);
	ap.publish("zev/wlc/control/ap/ap3/join_request",
		   payload(R"({"fw_version":"1.0","fw_revision":"r1","model":"zev-ap1","serial":"SN3"})"), 2);
	ap.publish("zev/wlc/control/ap/ap4/join_request", Bytes{1, 2}, 2);
	ASSERT_TRUE(pump([&] { return calls_.size() >= 2; }));
	EXPECT_EQ(calls_[0], R"(db.ap.set {"id":"ap1-a3-b4-c5","cert":"PEM","fw_version":"1.0","fw_revision":"r1","model":"zev-ap1","serial":"SN1","join_req":true,"mac":"00:11:22:a3:b4:c5","hostname":"ap1","custom_config":{"ssid":"x"}})");
	EXPECT_EQ(calls_[1], R"(db.ap.set {"id":"ap2","cert":"PEM","fw_version":"1.0","fw_revision":"r1","model":"zev-ap1","serial":"SN2","join_req":true})");
	ASSERT_TRUE(pump([&] { return log_text().find("Bad JOIN_REQ from ap4: missing payload") != std::string::npos; }));
	EXPECT_NE(log_text().find("mast.notice: Bad JOIN_REQ from ap3: not enough data"), std::string::npos);

	calls_.clear();
	ap.publish("zev/wlc/control/ap/ap1/online", payload(R"({"online":true,"model":"zev-ap1","protocol":"1.0.0","ip":"10.0.0.5/24"})"), 2, true);
	ap.publish("zev/wlc/control/ap/ap5/online", Bytes{0, 0}, 2, true);
	ASSERT_TRUE(pump([&] { return calls_.size() >= 2; }));
	EXPECT_EQ(calls_[0], R"(db.ap.set {"id":"ap1","model":"zev-ap1","ip":"10.0.0.5/24","online":true})");
	EXPECT_EQ(calls_[1], R"(db.ap.set {"id":"ap5","online":false})");

	// Another client taking the controller's client id drops its connection:
	// after reconnecting it reads the retained presence again.
	ap.publish("zev/wlc/control/ap/ap6/online", payload(R"({"online":false})"), 2, true);
	ASSERT_TRUE(pump([&] { return calls_.size() >= 3; }));
	calls_.clear();
	{
		wlctest::MqttClient intruder("wlc", 1883);
	}
	ASSERT_TRUE(pump([&] {
		return std::count(calls_.begin(), calls_.end(), std::string(R"(db.ap.set {"id":"ap6","online":false})")) >= 1;
	}, 15s));
}

// The database's id is kept between joins: a database that came back under
// a new id still gets every join, and one that went away is logged missing
// for each join that found it gone.
TEST_F(ControllerTest, JoinsReachADatabaseThatCameBackAndAMissingOneIsLogged)
{
	stand_in("db.ap", {"set"});
	start_mast();
	wait_subscribed({"zev/wlc/control/ap/+/join_request", "zev/wlc/control/ap/+/online"});
	wlctest::MqttClient ap("ap1", 1883);
	auto join = [&](const std::string &id) {
		ap.publish("zev/wlc/control/ap/" + id + "/join_request",
			   payload(R"({"fw_version":"1","fw_revision":"r","model":"m","serial":"s","cert":"c"})"), 2);
	};
	join("ap1");
	ASSERT_TRUE(pump([&] { return calls_.size() >= 1; }));
	objects_.back()->remove();
	objects_.pop_back();
	stand_in("db.ap", {"set"});
	join("ap2");
	ap.publish("zev/wlc/control/ap/ap3/online", payload(R"({"online":true})"), 2);
	ASSERT_TRUE(pump([&] { return calls_.size() >= 3; }));
	ASSERT_EQ(calls_.size(), 3u);
	EXPECT_EQ(calls_[1].rfind(R"(db.ap.set {"id":"ap2")", 0), 0u) << calls_[1];
	EXPECT_EQ(calls_[2], R"(db.ap.set {"id":"ap3","online":true})");
	EXPECT_EQ(log_text().find("Missing database ubus object"), std::string::npos);

	objects_.back()->remove();
	objects_.pop_back();
	join("ap4");
	join("ap5");
	ASSERT_TRUE(pump([&] {
		std::string log = log_text();
		size_t first = log.find("Missing database ubus object");
		return first != std::string::npos && log.find("Missing database ubus object", first + 1) != std::string::npos;
	}));
	EXPECT_EQ(calls_.size(), 3u);
}

TEST_F(ControllerTest, LogsAndRrmReportsAreRelayed)
{
	stand_in("log", {"add"});
	stand_in("rrm_ctrl.site1.44", {"report_add"});
	start_mast({"-m", "site1"});
	wait_subscribed({"zev/wlc/telemetry/ap/+/log", "zev/wlc/rrm/site1/ap/+/+/report/+"});
	wlctest::MqttClient ap("ap1", 1883);
	ap.publish("zev/wlc/telemetry/ap/ap1/log", payload(R"({"msg":"hello","id":3,"priority":30,"source":1,"time":5})"), 0);
	ap.publish("zev/wlc/telemetry/ap/ap1/log", payload(R"({"msg":"no priority"})"), 0);
	ap.publish("zev/wlc/rrm/site1/ap/ap1/300/report/channels", payload(R"({"scan":[{"ch":36}]})"), 1);
	ap.publish("zev/wlc/rrm/site1/ap/ap1/300/report/bss", Bytes{1}, 1);
	// Delivered in order: once the last entry is relayed, every message before it was handled.
	ap.publish("zev/wlc/telemetry/ap/ap1/log", payload(R"({"msg":"last","priority":6})"), 1);
	ASSERT_TRUE(pump([&] { return calls_.size() >= 3; }));
	ASSERT_EQ(calls_.size(), 3u);
	EXPECT_EQ(calls_[2], R"(log.add {"msg":"last","priority":6,"hostname":"ap1"})");
	EXPECT_EQ(calls_[0], R"(log.add {"msg":"hello","priority":30,"hostname":"ap1"})");
	EXPECT_EQ(calls_[1], R"(rrm_ctrl.site1.44.report_add {"type":"channels","id":"ap1","data":{"scan":[{"ch":36}]}})");
	EXPECT_NE(log_text().find("Bad RRM bss report message from ap1!"), std::string::npos);
}

// The relay keeps the object's id between messages; when its daemon comes
// back under a new id, the message that found the old one gone is made
// again to the new one, and the next ones follow in order.
TEST_F(ControllerTest, RrmReportsReachAControllerThatCameBack)
{
	stand_in("rrm_ctrl.site1.44", {"report_add"});
	start_mast({"-m", "site1"});
	wait_subscribed({"zev/wlc/rrm/site1/ap/+/+/report/+"});
	wlctest::MqttClient ap("ap1", 1883);
	ap.publish("zev/wlc/rrm/site1/ap/ap1/300/report/channels", payload(R"({"scan":[{"ch":1}]})"), 1);
	ASSERT_TRUE(pump([&] { return calls_.size() >= 1; }));
	objects_.back()->remove();
	objects_.pop_back();
	stand_in("rrm_ctrl.site1.44", {"report_add"});
	ap.publish("zev/wlc/rrm/site1/ap/ap1/300/report/channels", payload(R"({"scan":[{"ch":2}]})"), 1);
	ap.publish("zev/wlc/rrm/site1/ap/ap1/300/report/channels", payload(R"({"scan":[{"ch":3}]})"), 1);
	ASSERT_TRUE(pump([&] { return calls_.size() >= 3; }));
	ASSERT_EQ(calls_.size(), 3u);
	for (int ch = 1; ch <= 3; ch++)
		EXPECT_EQ(calls_[static_cast<size_t>(ch - 1)], "rrm_ctrl.site1.44.report_add {\"type\":\"channels\",\"id\":\"ap1\","
			  "\"data\":{\"scan\":[{\"ch\":" + std::to_string(ch) + "}]}}");
}

TEST_F(ControllerTest, CommandSubscriptionsRunOneAtATime)
{
	start_mast();
	std::string out = root_->path() + "/cmd.log";
	wlctest::write_text(bin_dir_ + "/handler", "#!/bin/sh\necho start >> " + out + "\ncat >> " + out +
							 "\necho >> " + out + "\nsleep 0.5\necho end >> " + out + "\n");
	chmod((bin_dir_ + "/handler").c_str(), 0755);
	ASSERT_EQ(call("mqtt.wlc", "subscribe", R"({"path":"zev/wlc/cmd/#","qos":1,"cb":"handler","once":true})"), 0);
	EXPECT_EQ(call("mqtt.wlc", "subscribe", R"({"path":"zev/wlc/cmd/#"})"), UBUS_STATUS_INVALID_ARGUMENT);
	wait_subscribed({"zev/wlc/cmd/#"});
	wlctest::MqttClient svc("svc", 1883);
	svc.publish("zev/wlc/cmd/one", payload(R"({"n":1})"), 1);
	svc.publish("zev/wlc/cmd/two", Bytes{}, 1);
	ASSERT_TRUE(pump([&] {
		std::string t = wlctest::read_text(out);
		return std::count(t.begin(), t.end(), 'e') >= 0 && t.find("end\nstart") != std::string::npos &&
		       t.rfind("end\n") == t.size() - 4;
	}, 10s));
	EXPECT_EQ(wlctest::read_text(out),
		  "start\n{\n\t\"instance\": \"wlc\",\n\t\"topic\": \"zev/wlc/cmd/one\",\n\t\"message\": {\n\t\t\"n\": 1\n\t}\n}\nend\n"
		  "start\n{\n\t\"instance\": \"wlc\",\n\t\"topic\": \"zev/wlc/cmd/two\"\n}\nend\n");
}

TEST_F(ControllerTest, IdleConnectedDaemonUsesNoCpu)
{
	start_mast();
	auto cpu = [&] {
		std::ifstream in("/proc/" + std::to_string(mast_->pid()) + "/stat");
		std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
		std::istringstream fields(s.substr(s.rfind(')') + 2));
		std::string f;
		long utime = 0, stime = 0;
		for (int i = 3; i <= 15 && fields >> f; i++) {
			if (i == 14)
				utime = std::stol(f);
			if (i == 15)
				stime = std::stol(f);
		}
		return utime + stime;
	};
	pump([] { return false; }, 500ms);
	long before = cpu();
	pump([] { return false; }, 3s);
	EXPECT_LE(cpu() - before, 3); // clock ticks (1/100 s) over 3 s of idling
}

} // namespace
} // namespace masttest

namespace masttest {
namespace {

TEST_F(ControllerTest, IappAndRrmAgentRelays)
{
	wlctest::write_text(root_->path() + "/tmp/sysinfo/board_name", "zev-ctl\n");
	stand_in("iapp", {"sta_add", "sta_move", "key_get", "key_set"});
	stand_in("rrm_agent.1", {"config", "agressive"});
	start_mast({"-s", "s1", "-w", "wlan1", "-g", "1:s1"});
	wait_subscribed({"zev/wlc/iapp/md/s1/wlan1/sta_add", "zev/wlc/iapp/md/s1/wlan1/sta_move",
			 "zev/wlc/iapp/ap/ctl-00-00-00/key_get", "zev/wlc/rrm/s1/ap/all/1/cmd/config",
			 "zev/wlc/rrm/s1/ap/ctl-00-00-00/1/cmd/agressive"});
	wlctest::MqttClient peer("peer", 1883);
	peer.publish("zev/wlc/iapp/md/s1/wlan1/sta_add", payload(R"({"sta":"aa:bb:cc:dd:ee:ff","from":"ap2"})"), 1);
	peer.publish("zev/wlc/iapp/ap/ctl-00-00-00/key_get", payload(R"({"sta":"aa:bb:cc:dd:ee:ff"})"), 1);
	peer.publish("zev/wlc/rrm/s1/ap/all/1/cmd/config", payload(R"({"channel":36})"), 1);
	peer.publish("zev/wlc/rrm/s1/ap/ctl-00-00-00/1/cmd/agressive", payload(R"({"duration":60})"), 1);
	peer.publish("zev/wlc/iapp/md/s1/wlan1/sta_move", Bytes{7}, 1);
	// Delivered in order: once the last one is relayed, every message before it was handled.
	peer.publish("zev/wlc/iapp/ap/ctl-00-00-00/key_get", payload(R"({"sta":"last"})"), 1);
	ASSERT_TRUE(pump([&] { return calls_.size() >= 5; }));
	ASSERT_EQ(calls_.size(), 5u);
	EXPECT_EQ(calls_[4], R"(iapp.key_get {"sta":"last"})");
	EXPECT_EQ(calls_[0], R"(iapp.sta_add {"sta":"aa:bb:cc:dd:ee:ff","from":"ap2","wlan":"wlan1"})");
	EXPECT_EQ(calls_[1], R"(iapp.key_get {"sta":"aa:bb:cc:dd:ee:ff"})");
	EXPECT_EQ(calls_[2], R"(rrm_agent.1.config {"channel":36})");
	EXPECT_EQ(calls_[3], R"(rrm_agent.1.agressive {"duration":60})");
	EXPECT_NE(log_text().find("mast.warning: Bad IAPP sta_move message!"), std::string::npos);
	EXPECT_NE(log_text().find("Recv RRM config message for radio 1"), std::string::npos);
}

TEST_F(ControllerTest, SiteWithoutWlanSubscribesNoIappTopic)
{
	wlctest::write_text(root_->path() + "/tmp/sysinfo/board_name", "zev-ctl\n");
	stand_in("iapp", {"key_get"});
	start_mast({"-s", "s1"});
	// A subscription made after the start-up ones: once the broker has it, it
	// has every subscription mast made at start-up.
	ASSERT_EQ(call("mqtt.wlc", "subscribe", R"({"path":"zev/wlc/marker","cb":"true"})"), 0);
	wait_subscribed({"zev/wlc/marker"});
	for (const char *f : {"key_get", "key_set"})
		EXPECT_EQ(broker_->subscriptions("wlc", std::string("zev/wlc/iapp/ap/ctl-00-00-00/") + f), 0) << f;
	EXPECT_EQ(log_text().find("Subscribe for IAPP topics"), std::string::npos);
}

} // namespace
} // namespace masttest

namespace masttest {
namespace {

TEST_F(ControllerTest, RefusedConnectionIsNotAConnection)
{
	broker_.reset();
	wlctest::BrokerOptions refusing{1883, 0, nullptr, false};
	refusing.anonymous = false;
	broker_ = std::make_unique<wlctest::Broker>(*root_, refusing);
	start_mast({"-u", "someone", "-p", "wrong"}, false);
	// Refused, and refused again on the retry.
	auto refusals = [&] {
		std::string log = log_text();
		size_t n = 0;
		for (size_t at = log.find("refused"); at != std::string::npos; at = log.find("refused", at + 1))
			n++;
		return n;
	};
	ASSERT_TRUE(pump([&] { return refusals() >= 2; }, 20s)) << log_text();
	EXPECT_FALSE(has_object("mqtt.wlc"));
	EXPECT_EQ(wlctest::read_text(root_->path() + "/init.log"), ""); // no initialisation without a connection
	EXPECT_NE(log_text().find("MQTT connection to localhost:1883 refused"), std::string::npos);
	EXPECT_EQ(log_text().find("mast.debug: Connected"), std::string::npos);
	EXPECT_EQ(log_text().find("lost:"), std::string::npos); // a refused connection was never up
}

} // namespace
} // namespace masttest
