// version and boot_slot on a simulated AP with two firmware slots.
#include <filesystem>
#include <fstream>
#include <unistd.h>

#include "vigil_fixture.h"

namespace fs = std::filesystem;

namespace vigiltest {
namespace {

class Version : public VigilTest {
protected:
	void SetEnv(const std::string &text) { std::ofstream(dev("/var/lib/sim/fw_env"), std::ios::trunc) << text; }
};

TEST_F(Version, DescribesBoardIdentityAndSlot)
{
	start_site(R"("serial": "SN0042")");
	start_system();
	start_vigil();
	std::string r;
	ASSERT_EQ(call("version", "{}", &r), 0);
	EXPECT_EQ(field(r, "model"), "\"zev-ap1\"");
	EXPECT_EQ(field(r, "version"), "\"1.2.3\"");
	EXPECT_NE(field(r, "cpu"), "<absent>");
	EXPECT_EQ(field(r, "boot_slot"), "0");
	EXPECT_EQ(field(r, "mac"), "\"00:11:22:a3:b4:c5\"");
	EXPECT_EQ(field(r, "uptime"), "12345");
	EXPECT_EQ(field(r, "sn"), "\"SN0042\"");
	EXPECT_EQ(field(r, "id"), "\"ap1-a3-b4-c5\"");
	// The AP's own hostname, not the host's.
	EXPECT_EQ(field(r, "hostname"), "\"ap1\"");
	EXPECT_LT(r.find("\"cpu\""), r.find("\"boot_slot\""));
	EXPECT_LT(r.find("\"uptime\""), r.find("\"sn\""));
}

TEST_F(Version, WithoutTheBootVariableStopsAfterTheBoard)
{
	start_site();
	SetEnv("");
	start_system();
	start_vigil();
	std::string r;
	ASSERT_EQ(call("version", "{}", &r), 0);
	EXPECT_EQ(field(r, "model"), "\"zev-ap1\"");
	for (const char *f : {"boot_slot", "mac", "uptime", "sn", "id", "hostname"})
		EXPECT_EQ(field(r, f), "<absent>") << f;
	EXPECT_NE(log_text().find("vigil.debug: FAILED to get dual_boot.current_slot\n"), std::string::npos);
}

TEST_F(Version, WithoutTheSystemObjectAnswersEmpty)
{
	start_site();
	start_vigil();
	std::string r = "untouched";
	ASSERT_EQ(call("version", "{}", &r), 0);
	EXPECT_EQ(r, "{}");
	EXPECT_NE(log_text().find("vigil.debug: FAILED to find system ubus object\n"), std::string::npos);
}

class BootSlot : public Version {
protected:
	void SetUp() override
	{
		Version::SetUp();
		if (access("/dev/loop-control", W_OK) != 0 || geteuid() != 0)
			GTEST_SKIP() << "needs loop devices and mount (root)";
	}
	// Nothing of a probe may stay behind: directories, mounts, block devices.
	void expect_clean(int running_slot)
	{
		for (const auto &e : fs::directory_iterator(dev("/tmp")))
			EXPECT_EQ(e.path().filename().string().rfind("vigil_boot_slot.", 0), std::string::npos) << e.path();
		std::string mounts = wlctest::read_text("/proc/self/mountinfo");
		EXPECT_EQ(mounts.find(site_->root_of("ap1")), std::string::npos) << mounts;
		for (int slot = 0; slot < 2; slot++) {
			std::error_code ec;
			bool there = fs::symlink_status(dev("/dev/ubiblock0_" + std::to_string(2 * slot + 1)), ec).type() !=
				     fs::file_type::not_found;
			EXPECT_EQ(there, slot == running_slot) << slot;
		}
	}
};

TEST_F(BootSlot, RunningAndNextSlotWithTheirReleases)
{
	start_site(R"("boot_slots": true)");
	start_vigil();
	std::string r;
	ASSERT_EQ(call("boot_slot", "{}", &r), 0) << log_text();
	EXPECT_EQ(field(r, "slots"),
		  R"([{"index":0,"name":"slot0","current":true,"next":true,"id":"OpenWrt","codename":"zev",)"
		  R"("release":"1.2.3","revision":"r12345-abcdef","build_date":{"year":2026,"month":12,"day":1}},)"
		  R"({"index":1,"name":"slot1","id":"OpenWrt","codename":"zev","release":"1.2.2","revision":"r12000-0a1b2c"}])");
	expect_clean(0);
	// A second call finds the same.
	std::string again;
	ASSERT_EQ(call("boot_slot", "{}", &again), 0);
	EXPECT_EQ(again, r);
	expect_clean(0);
}

TEST_F(BootSlot, NextFollowsTheBootVariableWhicheverSlotRuns)
{
	start_site(R"("boot_slots": true, "running_slot": 0)");
	SetEnv("dual_boot.current_slot=1\n");
	start_vigil();
	std::string r;
	ASSERT_EQ(call("boot_slot", "{}", &r), 0);
	EXPECT_EQ(r.find("\"current\":true,\"next\""), std::string::npos) << r;
	EXPECT_NE(r.find(R"({"index":1,"name":"slot1","next":true,)"), std::string::npos) << r;
	EXPECT_NE(r.find(R"({"index":0,"name":"slot0","current":true,"id")"), std::string::npos) << r;
	expect_clean(0);
}

TEST_F(BootSlot, RunningSlotOneIsLeftInPlace)
{
	start_site(R"("boot_slots": true, "running_slot": 1)");
	SetEnv("");
	start_vigil();
	std::string r;
	ASSERT_EQ(call("boot_slot", "{}", &r), 0);
	EXPECT_NE(r.find(R"({"index":1,"name":"slot1","current":true,"id")"), std::string::npos) << r;
	EXPECT_EQ(r.find("\"next\""), std::string::npos) << r;
	EXPECT_NE(r.find(R"({"index":0,"name":"slot0","id":"OpenWrt")"), std::string::npos) << r;
	expect_clean(1);
}

TEST_F(BootSlot, WithoutTheToolOnlyTheRunningSlotIsCurrent)
{
	start_site(R"("boot_slots": true)");
	// A PATH with the boot-environment reader and the shell, but no ubiblock.
	std::string bin = root_->path() + "/bin";
	fs::create_directories(bin);
	fs::create_symlink(std::string(WLC_BUILD_DIR) + "/sim/bin/fw_printenv", bin + "/fw_printenv");
	start_vigil({}, bin + ":/usr/bin:/bin");
	std::string r;
	ASSERT_EQ(call("boot_slot", "{}", &r), 0);
	EXPECT_NE(r.find(R"({"index":0,"name":"slot0","current":true,"next":true,"id")"), std::string::npos) << r;
	EXPECT_NE(r.find(R"({"index":1,"name":"slot1"})"), std::string::npos) << r;
	expect_clean(0);
}

TEST_F(BootSlot, AnUnmountableSlotShowsOnlyItsFlags)
{
	start_site(R"("boot_slots": true)");
	std::ofstream(dev("/dev/ubi0_3"), std::ios::trunc) << std::string(8192, 'x');
	start_vigil();
	std::string r;
	ASSERT_EQ(call("boot_slot", "{}", &r), 0);
	EXPECT_NE(r.find(R"({"index":1,"name":"slot1"})"), std::string::npos) << r;
	EXPECT_NE(r.find("\"release\":\"1.2.3\""), std::string::npos) << r;
	EXPECT_NE(log_text().find("vigil.warning: failed to mount /dev/ubiblock0_3 to "), std::string::npos) << log_text();
	expect_clean(0);
}

} // namespace
} // namespace vigiltest
