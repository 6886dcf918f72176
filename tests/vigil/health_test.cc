// vigil's start-up, the health record and the CPU sampler on a simulated AP.
#include <sys/sysinfo.h>
#include <sys/wait.h>

#include <cstdio>

#include "vigil_fixture.h"

namespace vigiltest {
namespace {

using Health = VigilTest;

TEST_F(Health, FirstPeriodHasNoCpuAverages)
{
	start_site();
	start_vigil();
	std::string r;
	ASSERT_EQ(call("health", "{}", &r), 0) << log_text();
	EXPECT_EQ(field(r, "cpu"), "[0,0,0]");
	EXPECT_EQ(field(r, "temp"), "45000");
	EXPECT_EQ(field(r, "storage_total"), "134217728");
	// /data is the AP's flash, not the host's disk.
	EXPECT_GT(std::stoull(field(r, "storage_free")), 0u);
	EXPECT_LE(std::stoull(field(r, "storage_free")), 134217728u);
	struct sysinfo info;
	ASSERT_EQ(sysinfo(&info), 0);
	EXPECT_EQ(field(r, "ram_total"), std::to_string(info.totalram));
	EXPECT_GT(std::stoull(field(r, "ram_free")), 0u);
	// The fields come in their fixed order.
	EXPECT_LT(r.find("\"cpu\""), r.find("\"storage_free\""));
	EXPECT_LT(r.find("\"storage_total\""), r.find("\"ram_free\""));
	EXPECT_LT(r.find("\"ram_total\""), r.find("\"temp\""));
}

TEST_F(Health, CpuFollowsTheScriptedLoad)
{
	start_site(R"("cpu_load": 40)");
	start_vigil();
	std::string r;
	// The sampler runs every 5 seconds; a window of steady load gives exactly 40 %.
	ASSERT_TRUE(wlctest::pump([&] { return call("health", "{}", &r) == 0 && field(r, "cpu").rfind("[40,", 0) == 0; },
				  40s)) << r;
	ASSERT_EQ(site_->command("cpu ap1 100"), "ok");
	ASSERT_TRUE(wlctest::pump([&] { return call("health", "{}", &r) == 0 && field(r, "cpu").rfind("[100,", 0) == 0; },
				  40s)) << r;
}

TEST_F(Health, NoThermalZoneFailsEveryCall)
{
	start_site();
	std::remove(dev("/sys/class/thermal/thermal_zone0/temp").c_str());
	start_vigil();
	std::string r = "untouched";
	EXPECT_EQ(call("health", "{}", &r), UBUS_STATUS_UNKNOWN_ERROR);
	EXPECT_EQ(r, "");
	EXPECT_EQ(call("health", "{\"ignored\": 1}", &r), UBUS_STATUS_UNKNOWN_ERROR);
	EXPECT_NE(log_text().find("vigil.debug: FAILED collecting health\n"), std::string::npos) << log_text();
}

TEST_F(Health, MissingSizeAndDataOnlyZeroTheirFields)
{
	start_site();
	std::remove(dev("/sys/class/mtd/mtd0/size").c_str());
	std::remove(dev("/data").c_str());
	start_vigil();
	std::string r;
	ASSERT_EQ(call("health", "{}", &r), 0);
	EXPECT_EQ(field(r, "storage_total"), "0");
	EXPECT_EQ(field(r, "storage_free"), "0");
	EXPECT_EQ(field(r, "temp"), "45000");
}

TEST_F(Health, StartsWithoutBusAndStopsWith255)
{
	start_site();
	std::vector<std::string> base = {"/usr/bin/env", "WLC_ROOT=" + root_->path() + "/nowhere",
					 "WLC_LOG_FILE=" + root_->path() + "/vigil.log",
					 std::string(WLC_BUILD_DIR) + "/vigil/vigil"};
	auto r = wlctest::run(base, 10s);
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(log_text(), "vigil.err: Failed to connect to ubus\n");

	start_vigil({"-i", "ra0:0:guest"});
	vigil_->kill(SIGTERM);
	int status = vigil_->wait(10s);
	ASSERT_TRUE(WIFEXITED(status));
	EXPECT_EQ(WEXITSTATUS(status), 255);
	EXPECT_NE(log_text().find("vigil.debug: config: ifname ra0 runs bssid 0 wlan guest\n"), std::string::npos);
}

} // namespace
} // namespace vigiltest
