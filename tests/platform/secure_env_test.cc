// A setuid program started by an unprivileged user ignores the variables that
// move the device root or mirror the log (they are read with secure_getenv):
// env_probe from a setuid-root copy, started by root (whose environment
// counts) and by an unprivileged user (whose does not).
#include <gtest/gtest.h>

#include <filesystem>

#include "harness.h"
#include "setuid.h"

namespace {

using wlctest::Caller;

class SecureExecution : public ::testing::Test {
protected:
	void SetUp() override
	{
		if (std::string why = wlctest::setuid_unavailable(); !why.empty())
			GTEST_SKIP() << why;
	}

	wlctest::RunResult probe(Caller caller, const std::vector<std::string> &env)
	{
		return wlctest::run(wlctest::setuid_command(dir_.path(), caller, env, {ENV_PROBE, "/etc/config/system"}));
	}

	wlctest::TempRoot dir_;
};

TEST_F(SecureExecution, SetuidProgramResolvesPathsAsGiven)
{
	std::string device = dir_.path() + "/device";
	wlctest::RunResult r = probe(Caller::root, {"WLC_ROOT=" + device});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, device + "/etc/config/system\n");
	r = probe(Caller::unprivileged, {"WLC_ROOT=" + device});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.out, "/etc/config/system\n");
}

TEST_F(SecureExecution, SetuidProgramHasNoLogMirrors)
{
	const std::string line = "env_probe.info: resolved /etc/config/system\n";
	std::string file = dir_.path() + "/mirror.log";
	wlctest::RunResult r = probe(Caller::root, {"WLC_LOG_FILE=" + file});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(wlctest::read_text(file), line);
	std::filesystem::remove(file);
	r = probe(Caller::unprivileged, {"WLC_LOG_FILE=" + file});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_FALSE(std::filesystem::exists(file));

	r = probe(Caller::root, {"WLC_LOG_STDERR=1"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, line);
	r = probe(Caller::unprivileged, {"WLC_LOG_STDERR=1"});
	ASSERT_EQ(r.status, 0) << r.err;
	EXPECT_EQ(r.err, "");
}

} // namespace
