// The RRM bus test fixture.
#include "rrm_fixture.h"

#include <wlc/log.h>

#include <array>
#include <cstdlib>

namespace rrmtest {

void BusTest::SetUp()
{
	DeviceTest::SetUp();
	uloop_init();
	log_path_ = root_->path() + "/test.log";
	setenv("WLC_LOG_FILE", log_path_.c_str(), 1);
	wlc::log_open("rrm_test");
	unsetenv("WLC_LOG_FILE");
	ASSERT_TRUE(client_.connect(bus_->socket()));
	client_.watch();
}

void BusTest::TearDown()
{
	bridge_.reset();
	client_.close();
	wlc::log_close();
	uloop_done();
	DeviceTest::TearDown();
}

void BusTest::add_bridge()
{
	std::vector<wlc::Method> methods = {
		{"send",
		 {{"path", BLOBMSG_TYPE_STRING}, {"qos", BLOBMSG_TYPE_INT32}, {"message", BLOBMSG_TYPE_TABLE}},
		 [this](wlc::Request &, blob_attr *msg) {
			 static const std::array<blobmsg_policy, 2> p = {
				 {{"path", BLOBMSG_TYPE_STRING}, {"message", BLOBMSG_TYPE_TABLE}}};
			 wlc::Fields<2> f;
			 f.parse(p, msg);
			 wlc::BlobBuf m;
			 m.add_fields(f[1]);
			 published_.push_back({std::string(f.str(0).value_or("")), m.json()});
			 return UBUS_STATUS_OK;
		 }},
	};
	bridge_ = std::make_unique<wlc::BusObject>("mqtt.wlc", methods, "mqtt.instance");
	ASSERT_EQ(bridge_->add(client_), UBUS_STATUS_OK);
}

int BusTest::call(const std::string &object, const std::string &method, const std::function<void(wlc::BlobBuf &)> &fill,
		  std::string *reply)
{
	wlc::BlobBuf args;
	fill(args);
	uint32_t id = client_.lookup(object);
	if (!id)
		return UBUS_STATUS_NOT_FOUND;
	int status = -1;
	bool done = false;
	wlc::AsyncCall c;
	client_.call_async(
		id, method, args, c,
		[&](blob_attr *msg) {
			if (reply)
				*reply = wlc::BlobBuf().add_fields(msg).json();
		},
		[&](int s) {
			status = s;
			done = true;
		});
	wlctest::pump([&] { return done; }, 10s);
	return status;
}

int BusTest::call_json(const std::string &object, const std::string &method, const std::string &json, std::string *reply)
{
	return call(object, method, [&json](wlc::BlobBuf &b) { EXPECT_TRUE(b.add_json(json)) << json; }, reply);
}

std::string BusTest::log_text() const
{
	return wlctest::read_text(log_path_);
}

} // namespace rrmtest
