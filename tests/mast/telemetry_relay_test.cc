// The telemetry relay's failures that the controller cannot see: a call
// record that cannot be allocated, and a response that cannot be published.
// Each is logged, nothing is left in flight, and the relay goes on.
#include <gtest/gtest.h>

#include <wlc/bus.h>
#include <wlc/log.h>

#include <array>
#include <chrono>
#include <cstdlib>

#include "ap/telemetry_relay.h"
#include "controller_fixture.h"
#include "fail_allocation.h"
#include "harness.h"
#include "mqtt/instance.h"

namespace {

using namespace std::chrono_literals;

class Relay : public wlctest::DeviceTest {
protected:
	void SetUp() override
	{
		DeviceTest::SetUp();
		uloop_init();
		log_path_ = root_->path() + "/test.log";
		setenv("WLC_LOG_FILE", log_path_.c_str(), 1);
		wlc::log_open("relay_test");
		unsetenv("WLC_LOG_FILE");
		ASSERT_TRUE(bus_client_.connect(bus_->socket()));
		bus_client_.watch();
		ASSERT_EQ(probe_.add(bus_client_), UBUS_STATUS_OK);
		// A connection that is never made: every publish fails.
		mast::MqttConfig config;
		config.name = "wlc";
		config.client_id = "relay-test";
		config.host = "127.0.0.1";
		config.port = 1;
		inst_ = mast::MqttInstance::create(config, std::nullopt, bus_client_);
		ASSERT_TRUE(inst_);
		relay_ = std::make_unique<mast::TelemetryRelay>(bus_client_, *inst_, "ap1-a3-b4-c5");
	}
	void TearDown() override
	{
		relay_.reset();
		inst_.reset();
		probe_.remove();
		bus_client_.close();
		wlc::log_close();
		uloop_done();
		DeviceTest::TearDown();
	}
	void request(int msg_id)
	{
		auto p = masttest::payload(R"({"msg_id":)" + std::to_string(msg_id) +
					  R"(,"data":{"object":"probe","method":"echo","message":{}}})");
		relay_->handle(p.data(), p.size());
	}
	std::string log_text() const { return wlctest::read_text(log_path_); }
	bool logged(const std::string &line) const { return log_text().find(line) != std::string::npos; }

	int answered_ = 0;
	wlc::BusObject probe_{"probe", {{"echo", {}, [this](wlc::Request &req, blob_attr *) {
						 answered_++;
						 wlc::BlobBuf b;
						 b.add("echo", "yes");
						 req.reply(b);
						 return UBUS_STATUS_OK;
					 }}}};
	std::string log_path_;
	wlc::Bus bus_client_;
	std::unique_ptr<mast::MqttInstance> inst_;
	std::unique_ptr<mast::TelemetryRelay> relay_;
};

TEST_F(Relay, ACallRecordThatCannotBeAllocatedIsDroppedWithItsLine)
{
	wlctest::fail_allocation_of = mast::TelemetryRelay::call_record_size();
	request(1);
	EXPECT_EQ(wlctest::fail_allocation_of, 0u) << "the call record was not the allocation that failed";
	EXPECT_TRUE(logged("relay_test.warning: FAILED allocate memory for ubus_cmd_req\n")) << log_text();
	EXPECT_EQ(relay_->in_flight(), 0u);
	// The next request is taken as usual.
	request(2);
	EXPECT_EQ(relay_->in_flight(), 1u);
	ASSERT_TRUE(wlctest::pump([&] { return answered_ == 1; }, 5s));
	EXPECT_EQ(answered_, 1);
}

TEST_F(Relay, AResponseThatCannotBePublishedIsLoggedAndTheCallFreed)
{
	request(7);
	ASSERT_EQ(relay_->in_flight(), 1u);
	ASSERT_TRUE(wlctest::pump([&] { return logged("FAILED to publish ubus response"); }, 5s)) << log_text();
	EXPECT_EQ(answered_, 1);
	EXPECT_TRUE(logged("relay_test.warning: FAILED to publish ubus response\n")) << log_text();
	ASSERT_TRUE(wlctest::pump([&] { return relay_->in_flight() == 0; }, 5s));
}

} // namespace
