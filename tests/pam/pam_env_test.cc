// The device root the module uses is not the caller's to choose: a setuid
// program started by an unprivileged user, and a device build whoever starts
// it, take no root from the environment, so a bus of the caller's own with a
// "session" object that grants every login is never asked.
#include <gtest/gtest.h>

#include "pam_fixture.h"
#include "setuid.h"

namespace {

using pamtest::kService;
using pamtest::PamRun;
using pamtest::PamStack;

constexpr const char *kNoService = "Authentication service cannot retrieve authentication info";

// A granting session stand-in on the bus under the test's root, the bus a
// caller's WLC_ROOT would name.
class PamRedirectedRoot : public PamStack {
protected:
	void SetUp() override
	{
		PamStack::SetUp();
		if (IsSkipped() || HasFatalFailure())
			return;
		accounts("", "");
		start_session_service(R"("root": {"answer": "granted", "password": "not-roots-password"})");
	}
};

class PamSetuid : public PamRedirectedRoot {
protected:
	void SetUp() override
	{
		if (std::string why = wlctest::setuid_unavailable(); !why.empty())
			GTEST_SKIP() << why;
		PamRedirectedRoot::SetUp();
	}

	// A setuid-root copy of pamtester with the system's PAM stack reading
	// this root's pam.d, WLC_ROOT naming this root.
	PamRun setuid_pamtester(wlctest::Caller caller, const std::string &password)
	{
		return pamtest::run_with_input(
			wlctest::setuid_command(dir_, caller, {"WLC_ROOT=" + dir_},
						{"/usr/bin/pamtester", "-v", kService, "root", "authenticate"}),
			{}, password + "\n");
	}
};

TEST_F(PamSetuid, RootCallerUsesTheRedirectedRoot)
{
	// Root's own environment counts: the setup reaches the granting bus.
	PamRun r = setuid_pamtester(wlctest::Caller::root, "not-roots-password");
	EXPECT_EQ(r.status, 0) << r.out;
	EXPECT_EQ(record("login").size(), 1u) << r.out;
}

TEST_F(PamSetuid, UnprivilegedCallerCannotRedirectTheRoot)
{
	PamRun r = setuid_pamtester(wlctest::Caller::unprivileged, "not-roots-password");
	EXPECT_NE(r.status, 0) << r.out;
	// The module ran and found no bus where the device has it.
	EXPECT_NE(r.out.find(kNoService), std::string::npos) << r.out;
	// Neither the login nor the password reached the caller's bus.
	EXPECT_TRUE(record("login").empty());
}

// The module linked as a device build links it, run by root with WLC_ROOT set.
class PamDeviceBuild : public PamRedirectedRoot {
protected:
	void SetUp() override
	{
		PamRedirectedRoot::SetUp();
		if (IsSkipped() || HasFatalFailure())
			return;
		write_service(kDeviceService, PAM_DEVICE_MODULE);
	}

	PamRun pamtester_for(const char *service)
	{
		std::vector<std::string> env = wrapper_env();
		env.push_back("WLC_ROOT=" + dir_);
		return pamtest::run_with_input({"/usr/bin/pamtester", "-v", service, "root", "authenticate"}, env,
					       "not-roots-password\n", true);
	}

	static constexpr const char *kDeviceService = "wlc-login-device";
};

TEST_F(PamDeviceBuild, RootIsNotTakenFromTheEnvironment)
{
	// The host build's module in the same setup reaches the granting bus.
	PamRun host = pamtester_for(kService);
	EXPECT_EQ(host.status, 0) << host.out;
	ASSERT_EQ(record("login").size(), 1u) << host.out;
	PamRun device = pamtester_for(kDeviceService);
	EXPECT_NE(device.status, 0) << device.out;
	EXPECT_NE(device.out.find(kNoService), std::string::npos) << device.out;
	EXPECT_EQ(record("login").size(), 1u);
}

} // namespace
