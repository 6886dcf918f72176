// fleetd on a test device.
#include "fleetd_fixture.h"

#include <wlc/blob.h>

namespace fleettest {

std::string join_json(const std::string &id, const std::string &serial)
{
	return R"({"id":")" + id + R"(","cert":"-----BEGIN CERTIFICATE-----","fw_version":"23.05.2",)"
	       R"("fw_revision":"r42-abc","model":"zev-ap1","serial":")" + serial + R"(","join_req":true,)"
	       R"("ip":"10.0.0.2/24","mac":"00:11:22:a3:b4:c5","hostname":"ap-one","custom_config":{"ssid":"office"}})";
}

void FleetdTest::SetUp()
{
	DeviceTest::SetUp();
	uloop_init();
	ASSERT_TRUE(client_.connect(bus_->socket()));
	client_.watch();
}

void FleetdTest::TearDown()
{
	fleetd_.reset();
	client_.close();
	uloop_done();
	DeviceTest::TearDown();
}

void FleetdTest::start_fleetd(const std::vector<std::string> &args)
{
	std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/fleet/fleetd", "-s", bus_->socket()};
	argv.insert(argv.end(), args.begin(), args.end());
	fleetd_ = std::make_unique<wlctest::Process>(
		argv, std::vector<std::string>{"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + root_->path() + "/fleetd.log"});
	ASSERT_TRUE(wlctest::pump([&] { return client_.lookup("fleet") != 0 && client_.lookup("db.ap") != 0; },
				  wlctest::kStartLimit))
		<< log_text();
}

void FleetdTest::kill_fleetd()
{
	fleetd_->kill(SIGKILL);
	fleetd_->wait(20s);
	fleetd_.reset();
	ASSERT_TRUE(wlctest::pump([&] { return client_.lookup("fleet") == 0; }, wlctest::kStartLimit));
}

int FleetdTest::call(const std::string &object, const std::string &method, const std::string &json, std::string *reply)
{
	wlc::BlobBuf args;
	if (!args.add_json(json))
		return -100;
	uint32_t id = client_.lookup(object);
	if (!id)
		return UBUS_STATUS_NOT_FOUND;
	int status = -1;
	bool done = false;
	wlc::AsyncCall c;
	client_.call_async(id, method, args, c,
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

wlctest::RunResult FleetdTest::fleetctl(const std::vector<std::string> &args)
{
	std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/fleet/fleetctl", "-s", bus_->socket()};
	argv.insert(argv.end(), args.begin(), args.end());
	return wlctest::run(argv, 30s);
}

std::string FleetdTest::log_text() const
{
	return wlctest::read_text(root_->path() + "/fleetd.log");
}

size_t FleetdTest::logged(const std::string &text) const
{
	std::string log = log_text();
	size_t n = 0;
	for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
		n++;
	return n;
}

} // namespace fleettest
