// fleetd's firmware methods on a device: images only from inside the image
// directory, rollouts only with an image for every model they reach, one
// at a time; every bad call is a bus status with a message, logged once,
// with nothing changed; fleetctl shows the rollout and its progress.
#include <gtest/gtest.h>

#include <filesystem>

#include "fleetd_fixture.h"

namespace fleettest {
namespace {

class FleetFirmwareCalls : public FleetdTest {
protected:
	void SetUp() override
	{
		FleetdTest::SetUp();
		wlctest::write_text(root_->path() + "/www/firmware/fw/r43.bin", "image");
		wlctest::write_text(root_->path() + "/etc/shadow.bin", "secret");
		std::filesystem::create_symlink(root_->path() + "/etc/shadow.bin", root_->path() + "/www/firmware/out.bin");
	}
	std::string reply_of(const std::string &method, const std::string &json)
	{
		std::string reply;
		int status = call("fleet", method, json, &reply);
		return status == 0 ? reply : "status " + std::to_string(status) + " " + reply;
	}
};

TEST_F(FleetFirmwareCalls, BadCallsAreRefusedLoggedOnceAndChangeNothing)
{
	start_fleetd({"-m", "auto", "-n", "hq", "-f", "/www/firmware"});
	ASSERT_EQ(call("db.ap", "set", join_json("ap1-a3-b4-c5")), 0);
	std::string before = reply_of("firmware_show", "{}");
	struct Bad {
		std::string method, json;
		int status;
		std::string message;
	};
	std::vector<Bad> bad = {
		{"firmware_image", R"({"image":"../../etc/shadow.bin"})", UBUS_STATUS_INVALID_ARGUMENT,
		 "must not leave the image directory"},
		{"firmware_image", R"({"image":"/etc/shadow.bin"})", UBUS_STATUS_INVALID_ARGUMENT, "without a leading '/'"},
		{"firmware_image", R"({"image":"out.bin"})", UBUS_STATUS_INVALID_ARGUMENT, "lies outside the image directory"},
		{"firmware_image", R"({"image":"fw/none.bin"})", UBUS_STATUS_INVALID_ARGUMENT, "no image fw/none.bin"},
		{"firmware_image", R"({"image":5})", UBUS_STATUS_INVALID_ARGUMENT, "field 'image' must be a string"},
		{"firmware_image", R"({"image":"fw/r43.bin","model":"a/b"})", UBUS_STATUS_INVALID_ARGUMENT, "'model' must be"},
		{"firmware_image", "{}", UBUS_STATUS_INVALID_ARGUMENT, "'image' is missing"},
		{"rollout_start", R"({"version":"23.05.3","revision":"r43"})", UBUS_STATUS_INVALID_ARGUMENT,
		 "no firmware image for model zev-ap1"},
		{"rollout_start", R"({"version":"23.05.3"})", UBUS_STATUS_INVALID_ARGUMENT, "give 'version' and 'revision'"},
		{"rollout_start", R"({"version":"23/05","revision":"r43"})", UBUS_STATUS_INVALID_ARGUMENT, "without '/'"},
		{"rollout_start", R"({"version":"1","revision":"r43","max_parallel":0})", UBUS_STATUS_INVALID_ARGUMENT,
		 "'max_parallel' must be 1 to 10000"},
		{"rollout_start", R"({"version":"1","revision":"r43","timeout":5})", UBUS_STATUS_INVALID_ARGUMENT,
		 "'timeout' must be 30 to 86400"},
		{"rollout_start", R"({"version":"1","revision":"r43","site":"a b"})", UBUS_STATUS_INVALID_ARGUMENT,
		 "'site' is not a site name"},
		{"rollout_start", R"({"version":true,"revision":"r43"})", UBUS_STATUS_INVALID_ARGUMENT, "must be a string"},
		{"rollout_show", "{}", UBUS_STATUS_NOT_FOUND, "no such rollout"},
		{"rollout_stop", "{}", UBUS_STATUS_NOT_FOUND, "no rollout is running"},
	};
	for (const Bad &b : bad) {
		std::string reply;
		EXPECT_EQ(call("fleet", b.method, b.json, &reply), b.status) << b.method << " " << b.json;
		EXPECT_NE(reply.find(b.message), std::string::npos) << b.method << " " << b.json << " → " << reply;
	}
	EXPECT_EQ(logged("fleetd.warning: Refused fleet "), bad.size()) << log_text();
	EXPECT_EQ(reply_of("firmware_show", "{}"), before);
	EXPECT_EQ(before, R"({"images":{}})");
}

TEST_F(FleetFirmwareCalls, OneRolloutAtATimeShownByFleetctl)
{
	start_fleetd({"-m", "auto", "-n", "hq", "-f", "/www/firmware"});
	ASSERT_EQ(call("db.ap", "set", join_json("ap1-a3-b4-c5")), 0);
	wlctest::RunResult r = fleetctl({"firmware", "image", "fw/r43.bin", "--model", "zev-ap1"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "image of zev-ap1: fw/r43.bin\n");
	r = fleetctl({"rollout", "start", "--version", "23.05.3", "--revision", "r43", "--parallel", "2"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "rollout 1 started for 1 APs\n");
	r = fleetctl({"rollout", "start", "--version", "23.05.3", "--revision", "r44"});
	EXPECT_EQ(r.status, 1);
	EXPECT_EQ(r.err, "fleetctl: rollout start: rollout 1 is running; stop it first\n");
	r = fleetctl({"rollout", "show"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out.rfind("rollout 1 of 23.05.3 r43: running, 0/1 done, 0 failed", 0), 0u) << r.out;
	EXPECT_NE(r.out.find("ap1-a3-b4-c5  zev-ap1"), std::string::npos) << r.out;
	r = fleetctl({"firmware", "show"});
	EXPECT_NE(r.out.find("release: 23.05.3 r43"), std::string::npos) << r.out;
	r = fleetctl({"rollout", "stop"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "rollout 1 stopped\n");
	r = fleetctl({"--json", "rollout", "show", "--watch"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_NE(r.out.find("\"state\": \"stopped\""), std::string::npos) << r.out;
	EXPECT_EQ(fleetctl({"rollout", "start"}).status, 2);
}

} // namespace
} // namespace fleettest
