// mast's start-up failures: their log lines and exit status.
#include <gtest/gtest.h>

#include "controller_fixture.h"

namespace {

class Startup : public masttest::MastRunTest {};

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
