// The bridge's request methods: what a batch with unusable AP identifiers does.
#include <gtest/gtest.h>

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

} // namespace
} // namespace masttest
