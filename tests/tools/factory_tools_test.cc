// factory_dump and zev_factory on a simulated device.
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "harness.h"
#include "sim_site.h"

namespace {

class Tools : public ::testing::Test {
protected:
	void SetUp() override
	{
		site_ = std::make_unique<wlctest::SimSite>(root_, std::vector<wlctest::SimDevice>{{"ap1", R"("serial": "SN777")"}});
		site_->use("ap1");
	}
	wlctest::RunResult dump(std::vector<std::string> args) const
	{
		args.insert(args.begin(), std::string(WLC_BUILD_DIR) + "/tools/factory_dump");
		return wlctest::run(args);
	}
	wlctest::RunResult zev(std::vector<std::string> args) const
	{
		args.insert(args.begin(), std::string(WLC_BUILD_DIR) + "/tools/zev_factory");
		return wlctest::run(args);
	}
	void poke(size_t offset, const std::string &bytes) const
	{
		int fd = open((site_->root_of("ap1") + "/dev/mtd3").c_str(), O_WRONLY);
		ASSERT_GE(fd, 0);
		ASSERT_EQ(pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)), static_cast<ssize_t>(bytes.size()));
		close(fd);
	}

	wlctest::TempRoot root_;
	std::unique_ptr<wlctest::SimSite> site_;
};

TEST_F(Tools, ChecksumOfBothToolsAgrees)
{
	auto stored = dump({"r", "crc"});
	auto computed = zev({"c", "h", "crc"});
	ASSERT_EQ(stored.status, 0);
	ASSERT_EQ(computed.status, 0) << computed.err;
	EXPECT_EQ(computed.out, stored.out);
	EXPECT_EQ(computed.out.size(), 33u);
	auto whole = zev({"c", "h"});
	EXPECT_NE(whole.out, computed.out);
	auto raw = zev({"c", "b", "crc"});
	EXPECT_EQ(raw.out.size(), 16u);
	auto raw_stored = dump({"-b", "r", "crc"});
	EXPECT_EQ(raw_stored.out, stored.out.substr(0, 32)); // the 32 stored bytes, no newline
	auto bad = zev({"c", "x"});
	EXPECT_EQ(bad.status, 255);
	EXPECT_EQ(bad.err, "Unknown type 'x'!\nFailed to claculate checksum!\n");
}

TEST_F(Tools, FactoryDumpForms)
{
	poke(0xE000, std::string("\x00\x11\x22\x33\x44\x55", 6));
	EXPECT_EQ(dump({"r", "lan"}).out, "00:11:22:33:44:55\n");
	poke(0x1FFF80, std::string("SN42") + std::string(28, '\xff'));
	EXPECT_EQ(dump({"r", "sn"}).out, "SN42\n");
	poke(0x1FFE7C, "\xde\xad\xbe\xef");
	EXPECT_EQ(dump({"r", "prod"}).out, "DEADBEEF\n");
	auto usage = dump({"r", "nothing"});
	EXPECT_EQ(usage.status, 255);
	std::string prog = std::string(WLC_BUILD_DIR) + "/tools/factory_dump";
	EXPECT_EQ(usage.out, "How to use:\n\tread:   " + prog + " r <lan|wan|wlan|wlan2|sn|ssid|psk|crc>\n\tread:   " + prog +
				     " r <admin_login|admin_password|user_login|user_password>\nAdditional options:\n"
				     "\t-b - output factory item as raw binary data\n");
	EXPECT_EQ(dump({"w", "lan"}).status, 255);
	EXPECT_EQ(dump({"r"}).status, 255);
}

TEST_F(Tools, FactoryDumpWithoutFactoryPartition)
{
	wlctest::write_text(site_->root_of("ap1") + "/proc/mtd", "dev:    size   erasesize  name\nmtd0: 00080000 00010000 \"Bootloader\"\n");
	auto r = dump({"r", "lan"});
	EXPECT_EQ(r.status, 255);
	EXPECT_EQ(r.err, "Could not open mtd device\n");
}

TEST_F(Tools, ZevFactoryReads)
{
	poke(0xE000, std::string("\x00\x11\x22\x33\x44\x55", 6));
	EXPECT_EQ(zev({"r", "m", "lan"}).out, "00:11:22:33:44:55\n");
	EXPECT_EQ(zev({"r", "h", "lan"}).out, "001122334455\n");
	auto s = zev({"r", "s", "lan"}); // starts with a zero byte: an empty line
	EXPECT_EQ(s.status, 0);
	EXPECT_EQ(s.out, "\n");
	EXPECT_EQ(zev({"r", "s", "sn"}).out, "SN777\n");
	auto mac_of_sn = zev({"r", "m", "sn"});
	EXPECT_EQ(mac_of_sn.out, "53:4e:37:37:37:00\n");
	EXPECT_EQ(zev({"r", "b", "lan"}).out, std::string("\x00\x11\x22\x33\x44\x55", 6));
	auto unknown = zev({"r", "x", "lan"});
	EXPECT_EQ(unknown.status, 255);
	EXPECT_EQ(unknown.err, "Unknown type 'x'!\nFailed to read lan!\n");
	auto missing = zev({"r", "s"});
	EXPECT_EQ(missing.status, 255);
	EXPECT_EQ(missing.err, "Bad args!\nSyntax: zev_factory <action> <type> [<item>]\n");
	auto noitem = zev({"r", "h", "nothing"});
	EXPECT_EQ(noitem.err, "Failed to read string 'nothing' from factory!\nFailed to read nothing!\n");
	auto action = zev({"x", "h"});
	EXPECT_EQ(action.err, "Unknown action 'x'!\n");
	EXPECT_EQ(zev({"c"}).status, 255);
}

} // namespace
