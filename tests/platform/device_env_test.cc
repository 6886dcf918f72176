// The root helper and the log as a device build has them: whoever starts the
// program, the environment moves no path and mirrors no log line.
#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

class DeviceBuildEnvironment : public ::testing::Test {
protected:
	void SetUp() override
	{
		const char *tmp = std::getenv("TMPDIR");
		std::string templ = std::string(tmp && *tmp ? tmp : "/tmp") + "/wlc-test-XXXXXX";
		std::vector<char> buf(templ.begin(), templ.end());
		buf.push_back('\0');
		ASSERT_NE(mkdtemp(buf.data()), nullptr);
		dir_ = buf.data();
	}
	void TearDown() override
	{
		for (const char *name : {"WLC_ROOT", "WLC_LOG_FILE", "WLC_LOG_STDERR"})
			unsetenv(name);
		wlc::reload_fs_root();
		std::error_code ec;
		std::filesystem::remove_all(dir_, ec);
	}

	static void log_a_line()
	{
		wlc::log_open("device_env_test");
		wlc::logf(LOG_INFO, "a line");
		wlc::log_close();
	}

	std::string dir_;
};

TEST_F(DeviceBuildEnvironment, RootHelperResolvesPathsAsGiven)
{
	setenv("WLC_ROOT", dir_.c_str(), 1);
	wlc::reload_fs_root();
	EXPECT_EQ(wlc::fs_root(), "");
	EXPECT_EQ(wlc::root_path("/var/run/ubus/ubus.sock"), "/var/run/ubus/ubus.sock");
	EXPECT_EQ(wlc::root_path("/etc/config/system"), "/etc/config/system");
	EXPECT_EQ(wlc::root_path("relative/file"), "relative/file");
}

TEST_F(DeviceBuildEnvironment, LogHasNoMirrors)
{
	std::string file = dir_ + "/mirror.log";
	setenv("WLC_LOG_FILE", file.c_str(), 1);
	log_a_line();
	EXPECT_FALSE(std::filesystem::exists(file));
	unsetenv("WLC_LOG_FILE");
	setenv("WLC_LOG_STDERR", "1", 1);
	::testing::internal::CaptureStderr();
	log_a_line();
	EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

} // namespace
