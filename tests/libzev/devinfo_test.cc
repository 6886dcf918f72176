// Device identity on a simulated device.
#include <zev/devinfo.h>

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "harness.h"
#include "sim_site.h"

namespace {

class Devinfo : public ::testing::Test {
protected:
	void SetUp() override
	{
		site_ = std::make_unique<wlctest::SimSite>(root_, std::vector<wlctest::SimDevice>{
			{"ap1", R"("model": "zev-ab12", "lan_mac": "00:11:22:a3:b4:c5", "serial": "SN0042",
				   "ipv4": "10.0.5.2", "netmask": "255.255.255.0", "env": {"dual_boot.current_slot": "1"})"}});
		site_->use("ap1");
	}
	std::string path(const std::string &abs) const { return site_->root_of("ap1") + abs; }

	wlctest::TempRoot root_;
	std::unique_ptr<wlctest::SimSite> site_;
};

TEST_F(Devinfo, IdentityFromFactoryDataAndBoardName)
{
	EXPECT_STREQ(zev_devinfo_model(), "zev-ab12");
	EXPECT_STREQ(zev_devinfo_id(), "ab12-a3-b4-c5");
	EXPECT_STREQ(zev_devinfo_serial(), "SN0042");
	EXPECT_STREQ(zev_devinfo_fw_version(), "1.2.3");
	EXPECT_STREQ(zev_devinfo_fw_revision(), "r12345-abcdef");
	// Cached: later changes to the files are not seen.
	wlctest::write_text(path("/tmp/sysinfo/board_name"), "other\n");
	EXPECT_STREQ(zev_devinfo_model(), "zev-ab12");
}

TEST_F(Devinfo, ModelFromBoardJsonAndIdWithoutModel)
{
	std::remove(path("/tmp/sysinfo/board_name").c_str());
	wlctest::write_text(path("/etc/board.json"), R"({"model": {"id": "x1", "name": "X One"}})");
	EXPECT_STREQ(zev_devinfo_model(), "x1");
	EXPECT_STREQ(zev_devinfo_id(), "x1-a3-b4-c5");
}

TEST_F(Devinfo, NoModelGivesABareSuffix)
{
	std::remove(path("/tmp/sysinfo/board_name").c_str());
	std::remove(path("/etc/board.json").c_str());
	EXPECT_STREQ(zev_devinfo_model(), "");
	EXPECT_STREQ(zev_devinfo_id(), "-a3-b4-c5");
}

TEST(DevinfoFields, NamesAndSerialsThatFillTheirFieldAreKeptWhole)
{
	const std::string model = "zev-abcdefghijklmnopqrst"; // 24 characters
	const std::string serial = "SN012345678901234567890123456789"; // 32 characters
	wlctest::TempRoot root;
	wlctest::SimSite site(root, {{"ap1", R"("model": ")" + model + R"(", "lan_mac": "00:11:22:a3:b4:c5", "serial": ")" +
						  serial + R"(")"}});
	site.use("ap1");
	EXPECT_EQ(std::string(zev_devinfo_model()), model);
	EXPECT_EQ(std::string(zev_devinfo_serial()), serial);
	EXPECT_EQ(std::string(zev_devinfo_id()), "abcdefghijklmnopqrst-a3-b4-c5"); // the MAC suffix is never cut off
}

TEST(DevinfoFields, ModelFromBoardJsonIsCutAtItsField)
{
	wlctest::TempRoot root;
	wlctest::SimSite site(root, {{"ap1", R"("lan_mac": "00:11:22:0a:0b:0c")"}});
	site.use("ap1");
	std::remove((site.root_of("ap1") + "/tmp/sysinfo/board_name").c_str());
	wlctest::write_text(site.root_of("ap1") + "/etc/board.json",
			    R"({"model": {"id": "a-board-name-longer-than-its-field"}})");
	EXPECT_EQ(std::string(zev_devinfo_model()), "a-board-name-longer-than"); // 24 characters
	EXPECT_EQ(std::string(zev_devinfo_id()), "a-board-name-longer-than-0a-0b-0c");
}

TEST_F(Devinfo, AddressUptimeAndBootEnvironment)
{
	uint32_t addr = 0, mask = 0;
	ASSERT_EQ(zev_devinfo_ipv4(&addr, &mask), 0);
	EXPECT_EQ(addr, 0x0A000502u);
	EXPECT_EQ(mask, 0xFFFFFF00u);
	EXPECT_EQ(zev_devinfo_ipv4(nullptr, nullptr), 0);
	wlctest::write_text(path("/proc/uptime"), "12345.67 54321.00\n");
	EXPECT_EQ(zev_devinfo_uptime(), 12345);
	// Readings that are no count of seconds.
	for (const char *bad : {"garbage\n", "-5.00 1.00\n", "nan 0\n", "1e300 0\n"}) {
		wlctest::write_text(path("/proc/uptime"), bad);
		EXPECT_EQ(zev_devinfo_uptime(), -1) << bad;
	}

	char slot[8] = "unset";
	ASSERT_EQ(zev_devinfo_get_env("dual_boot.current_slot", slot, sizeof(slot)), 0);
	EXPECT_STREQ(slot, "1");
	char unknown[8] = "unset";
	EXPECT_EQ(zev_devinfo_get_env("no.such.var", unknown, sizeof(unknown)), -1);
	EXPECT_STREQ(unknown, "unset");
	// The name reaches the tool as one argument; nothing runs through a shell.
	EXPECT_EQ(zev_devinfo_get_env("x; touch /tmp/zev-shell-injection", unknown, sizeof(unknown)), -1);
	EXPECT_NE(access("/tmp/zev-shell-injection", F_OK), 0);
	EXPECT_EQ(zev_devinfo_get_env(nullptr, unknown, sizeof(unknown)), -1);
}

TEST_F(Devinfo, BridgeAddressMissing)
{
	site_->process().kill(SIGTERM); // no driver answers: no address
	site_->process().wait(std::chrono::seconds(3));
	uint32_t addr;
	EXPECT_EQ(zev_devinfo_ipv4(&addr, nullptr), -1);
}

TEST_F(Devinfo, ReleaseFile)
{
	zev_release rel;
	wlctest::write_text(path("/etc/rel1"), "DISTRIB_ID='OpenWrt'\ndistrib_codename=\"zev\"\nDISTRIB_RELEASE='23.05.3'\n"
					    "DISTRIB_REVISION='r23809-0123456789abcdef0123456789abcdef0123'\n"
					    "DISTRIB_BUILDDATE='20240315'\n");
	ASSERT_EQ(zev_devinfo_release_read("/etc/rel1", &rel), 0);
	EXPECT_STREQ(rel.id, "OpenWrt");
	EXPECT_STREQ(rel.codename, "zev");
	EXPECT_STREQ(rel.release, "23.05.3");
	EXPECT_EQ(std::string(rel.revision), "r23809-0123456789abcdef012345678"); // 32 characters kept
	EXPECT_EQ(rel.build_year, 2024);
	EXPECT_EQ(rel.build_month, 3);
	EXPECT_EQ(rel.build_day, 15);
	wlctest::write_text(path("/etc/rel2"), "DISTRIB_BUILDDATE='2024-03-15'\nDISTRIB_ID='AVeryLongDistributionName'\n");
	ASSERT_EQ(zev_devinfo_release_read("/etc/rel2", &rel), 0);
	EXPECT_EQ(rel.build_year, 0);
	EXPECT_EQ(rel.build_month, 0);
	EXPECT_EQ(rel.build_day, 0);
	EXPECT_STREQ(rel.id, "AVeryLongDistri"); // 15 characters and the terminator
	// Eight characters that are no date leave it unset.
	for (const char *bad : {"2024ab01", "20241301", "20240300", "2024031 "}) {
		wlctest::write_text(path("/etc/rel3"), std::string("DISTRIB_BUILDDATE=") + bad + "\n");
		ASSERT_EQ(zev_devinfo_release_read("/etc/rel3", &rel), 0);
		EXPECT_EQ(rel.build_year, 0) << bad;
		EXPECT_EQ(rel.build_month, 0) << bad;
	}
	EXPECT_EQ(zev_devinfo_release_read("/etc/none", &rel), -1);
}

} // namespace
