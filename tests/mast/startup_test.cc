// mast's start-up failures: their log lines and exit status.
#include <gtest/gtest.h>

#include "harness.h"

namespace {

class Startup : public wlctest::DeviceTest {
protected:
	// Runs mast to its end; returns its exit status, the log in *log.
	int run_mast(const std::vector<std::string> &args, std::string *log)
	{
		std::string file = root_->path() + "/mast.log";
		std::vector<std::string> argv = {"/usr/bin/env", "WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + file,
						 std::string(WLC_BUILD_DIR) + "/mast/mast"};
		argv.insert(argv.end(), args.begin(), args.end());
		auto r = wlctest::run(argv, std::chrono::seconds(10));
		*log = wlctest::read_text(file);
		return r.status;
	}
};

TEST_F(Startup, UnknownRoleIsABadConfig)
{
	std::string log;
	EXPECT_EQ(run_mast({"-r", "router"}, &log), 255);
	EXPECT_EQ(log, "mast.err: config: unknown role 'router'\nmast.err: Failed to read config\n");
}

TEST_F(Startup, NoBusIsAFailure)
{
	bus_.reset(); // the bus daemon goes away
	std::string log;
	EXPECT_EQ(run_mast({"-r", "wlc"}, &log), 255);
	EXPECT_NE(log.find("mast.err: Failed to connect to ubus\n"), std::string::npos);
}

} // namespace
