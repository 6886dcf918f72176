// The filesystem root helper and the log mirrors.
#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include <gtest/gtest.h>

#include <cstdlib>

#include "harness.h"

namespace {

class EnvGuard {
public:
	EnvGuard(const char *name, const char *value) : name_(name)
	{
		setenv(name, value, 1);
		wlc::reload_fs_root();
	}
	~EnvGuard()
	{
		unsetenv(name_);
		wlc::reload_fs_root();
	}

private:
	const char *name_;
};

TEST(FsRoot, AbsolutePathsResolveUnderTheRoot)
{
	{
		EnvGuard root("WLC_ROOT", "/tmp/dev1/");
		EXPECT_EQ(wlc::fs_root(), "/tmp/dev1");
		EXPECT_EQ(wlc::root_path("/etc/config/system"), "/tmp/dev1/etc/config/system");
		EXPECT_EQ(wlc::root_path("relative/file"), "relative/file");
	}
	EXPECT_EQ(wlc::fs_root(), "");
	EXPECT_EQ(wlc::root_path("/etc/config/system"), "/etc/config/system");
	EnvGuard slash("WLC_ROOT", "/");
	EXPECT_EQ(wlc::root_path("/proc/uptime"), "/proc/uptime");
}

TEST(Log, MirrorFileGetsIdentPriorityPrefixAndText)
{
	wlctest::TempRoot dir;
	std::string file = dir.at("/log.txt");
	EnvGuard mirror("WLC_LOG_FILE", file.c_str());
	wlc::log_open("mast");
	wlc::logf(LOG_ERR, "Failed to %s", "connect");
	wlc::log_prefix("[site/44] ");
	wlc::logf(LOG_NOTICE, "channel %d", 36);
	wlc::log_close();
	EXPECT_EQ(wlctest::read_text(file), "mast.err: Failed to connect\nmast.notice: [site/44] channel 36\n");
	wlc::log_prefix(nullptr);
}

} // namespace
