// The bridge's request methods: what a batch with unusable AP identifiers
// does, and replies larger than the bus carries.
#include <gtest/gtest.h>

#include <thread>

#include "controller_fixture.h"

namespace masttest {
namespace {

TEST_F(ControllerTest, BatchWithAnIdentifierThatIsNotTextIsRefusedWhole)
{
	start_mast();
	wlctest::MqttClient ap("ap-side", 1883);
	ASSERT_TRUE(ap.subscribe("zev/wlc/telemetry/ap/+/request/+"));
	EXPECT_EQ(call("mqtt.wlc", "request_response_batch",
		       R"({"ap_id":["ap1",7,"ap2"],"command":"ubus","timeout":100})"),
		  UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_EQ(call("mqtt.wlc", "request_response_batch", R"({"ap_id":["ap1",{"x":"y"}],"command":"ubus"})"),
		  UBUS_STATUS_INVALID_ARGUMENT);
	// Nothing was published, and the refused calls took no request number.
	EXPECT_EQ(call("mqtt.wlc", "request_response", R"({"ap_id":"ap3","command":"ubus","timeout":100})"),
		  UBUS_STATUS_TIMEOUT);
	wlctest::MqttMessage m;
	ASSERT_TRUE(ap.next(m));
	EXPECT_EQ(m.topic, "zev/wlc/telemetry/ap/ap3/request/ubus");
	EXPECT_EQ(fields_json(m.payload), R"({"msg_id":0})");
	EXPECT_FALSE(ap.next(m, 300ms));
}

// Answers requests as the APs do: ap1-ap3 with 400 KB each, the others with little.
void answer_requests(wlctest::MqttClient &ap, int count)
{
	const std::string big(400 * 1024, 'x');
	wlctest::MqttMessage m;
	for (int answered = 0; answered < count && ap.next(m, 10s); answered++) {
		std::string id = m.topic.substr(std::string("zev/wlc/telemetry/ap/").size());
		id = id.substr(0, id.find('/'));
		std::string fields = fields_json(m.payload);
		std::string msg_id = fields.substr(fields.find(':') + 1, fields.find_first_of(",}") - fields.find(':') - 1);
		std::string data = id <= "ap3" ? R"({"blob":")" + big + R"("})" : R"({"from":")" + id + R"("})";
		ap.publish("zev/wlc/telemetry/ap/" + id + "/response/ubus",
			   payload(R"({"msg_id":)" + msg_id + R"(,"data":)" + data + R"(,"code":0})"), 2, false);
	}
}

// Answers that together pass the bus's message limit fail the call instead of
// being sent (the bus daemon would drop mast's connection for it); mast keeps
// serving.
TEST_F(ControllerTest, ReplyLargerThanTheBusCarriesFails)
{
	start_mast();
	wlctest::MqttClient ap("ap-side", 1883);
	ASSERT_TRUE(ap.subscribe("zev/wlc/telemetry/ap/+/request/+"));
	std::thread answerer([&] { answer_requests(ap, 5); });
	EXPECT_EQ(call("mqtt.wlc", "request_response_batch", R"({"ap_id":["ap1","ap2","ap3"],"command":"ubus"})"),
		  UBUS_STATUS_UNKNOWN_ERROR);
	// One answer that fits is still delivered whole.
	std::string reply;
	EXPECT_EQ(call("mqtt.wlc", "request_response_batch", R"({"ap_id":["ap1","ap4"],"command":"ubus"})", &reply), 0);
	EXPECT_GT(reply.size(), 400u * 1024) << reply.substr(0, 60);
	EXPECT_NE(reply.find(R"("ap4":{"from":"ap4"})"), std::string::npos);
	answerer.join();
	EXPECT_TRUE(log_text().find("is too large for ubus") != std::string::npos);
	EXPECT_TRUE(has_object("mqtt.wlc"));
}

// A batch whose answers pass the bus's limit before every AP answered fails
// as soon as they do, rather than when the caller's timeout ends.
TEST_F(ControllerTest, ReplyThatCannotFitFailsAtOnce)
{
	start_mast();
	wlctest::MqttClient ap("ap-side", 1883);
	ASSERT_TRUE(ap.subscribe("zev/wlc/telemetry/ap/+/request/+"));
	std::thread answerer([&] { answer_requests(ap, 3); }); // ap1-ap3; ap9 stays silent
	auto t0 = std::chrono::steady_clock::now();
	EXPECT_EQ(call("mqtt.wlc", "request_response_batch",
		       R"({"ap_id":["ap1","ap2","ap3","ap9"],"command":"ubus","timeout":60000})", nullptr, 30s),
		  UBUS_STATUS_UNKNOWN_ERROR);
	EXPECT_LT(std::chrono::steady_clock::now() - t0, 30s);
	answerer.join();
	EXPECT_TRUE(log_text().find("is too large for ubus") != std::string::npos);
	// The late answer of ap9 finds nothing pending, and mast serves on.
	EXPECT_EQ(call("mqtt.wlc", "request_response", R"({"ap_id":"ap9","command":"ubus","timeout":100})"),
		  UBUS_STATUS_TIMEOUT);
	EXPECT_TRUE(has_object("mqtt.wlc"));
}

// A call larger than one bus message never reaches mast: the caller's own
// library refuses it at once, and nothing is published.
TEST_F(ControllerTest, BatchLargerThanABusMessageRefusedAtOnce)
{
	start_mast();
	wlctest::MqttClient ap("ap-side", 1883);
	ASSERT_TRUE(ap.subscribe("zev/wlc/telemetry/ap/+/request/+"));
	std::string ids;
	for (int i = 0; i < 60000; i++)
		ids += (i ? ",\"ap-" : "\"ap-") + std::to_string(100000 + i) + "\"";
	auto t0 = std::chrono::steady_clock::now();
	int status = call("mqtt.wlc", "request_response_batch", R"({"ap_id":[)" + ids + R"(],"command":"ubus","timeout":60000})",
			  nullptr, 30s);
	EXPECT_EQ(status, UBUS_STATUS_INVALID_ARGUMENT);
	EXPECT_LT(std::chrono::steady_clock::now() - t0, 30s);
	wlctest::MqttMessage m;
	EXPECT_FALSE(ap.next(m, 300ms));
	// This client's connection and mast's are both still there.
	EXPECT_EQ(call("mqtt.wlc", "request_response", R"({"ap_id":"ap1","command":"ubus","timeout":100})"),
		  UBUS_STATUS_TIMEOUT);
	EXPECT_TRUE(has_object("mqtt.wlc"));
}

} // namespace
} // namespace masttest
