// Firmware end to end: fleetd publishes the release as the retained
// VERSION, offers FIRMWARE pointing at a real HTTPS server (lighttpd with
// TLS, serving fleetd's image directory with the certificate the APs
// pinned), the AP's own mast downloads and installs the image, and the
// inventory follows it until it is back with the new revision; an AP that
// comes back with the old one fails the rollout, which halts and gives the
// release back so the AP is adopted again.
#include <gtest/gtest.h>

#include "site_fixture.h"

namespace fleettest {
namespace {

using masttest::pump;

constexpr int kHttpsPort = 8443;

class FleetFirmwareSite : public FleetSiteTest {
protected:
	std::vector<std::string> devices() const override { return {"ap1"}; }
	std::vector<std::string> fleetd_args() const override
	{
		return {"-m", "auto", "-n", "hq", "-f", "/www/firmware", "-p", std::to_string(kHttpsPort),
			"-w", "/etc/fleet/lighttpd.conf", "-c", "/pki/server.crt", "-k", "/pki/server.key"};
	}

	void SetUp() override
	{
		FleetSiteTest::SetUp();
		if (IsSkipped() || HasFatalFailure())
			return;
		// The web server runs with the configuration fleetd wrote at its start
		// (its image directory, made by fleetd, the port and the certificate).
		images_ = root_->path() + "/www/firmware";
		web_ = std::make_unique<wlctest::Process>(
			std::vector<std::string>{"/usr/sbin/lighttpd", "-D", "-f", root_->path() + "/etc/fleet/lighttpd.conf"});
		ASSERT_TRUE(wlctest::wait_until([] { return wlctest::port_open(kHttpsPort); }, wlctest::kStartLimit))
			<< fleetd_log();
		for (uint32_t i = 0; i < 300000; i++)
			image_ += static_cast<char>((i * 7919u) >> 3);
		wlctest::write_text(images_ + "/fw/r43.bin", image_);
	}
	void TearDown() override
	{
		web_.reset();
		FleetSiteTest::TearDown();
	}

	std::string rollout() { return fleet("rollout_show", "{}"); }
	// The AP of the rollout in this state.
	bool ap_in(const std::string &state)
	{
		return rollout().find(R"("id":")" + id("ap1") + R"(","model":"zev-ap1","state":")" + state + "\"") !=
		       std::string::npos;
	}
	// The AP reboots into another revision.
	void reboot_into(const std::string &revision)
	{
		stop_ap("ap1");
		ASSERT_TRUE(pump([&] { return state_of("ap1") == "offline"; }, wlctest::kStartLimit)) << fleetd_log();
		std::string release = ap_file("ap1", "/etc/openwrt_release");
		size_t at = release.find(kRevision);
		ASSERT_NE(at, std::string::npos) << release;
		for (; at != std::string::npos; at = release.find(kRevision, at + revision.size()))
			release.replace(at, std::string(kRevision).size(), revision);
		wlctest::write_text(ap_root("ap1") + "/etc/openwrt_release", release);
		start_ap("ap1");
	}

	std::string images_, image_;
	std::unique_ptr<wlctest::Process> web_;
};

TEST_F(FleetFirmwareSite, ApIsUpgradedFromTheHttpsServerAndBackWithTheNewRevision)
{
	start_ap("ap1");
	ASSERT_NO_FATAL_FAILURE(wait_adopted("ap1"));
	ASSERT_EQ(fleet("firmware_image", R"({"image":"fw/r43.bin"})"), R"({"model":"","image":"fw/r43.bin"})");
	std::string started = fleet("rollout_start", R"({"version":"23.05.3","revision":"r43","max_parallel":1,"timeout":300})");
	ASSERT_EQ(started, R"({"id":1,"aps":1})") << fleetd_log();

	// Downloaded over TLS (the pinned certificate) and handed to the upgrade tool unchanged.
	ASSERT_TRUE(pump([&] { return ap_file("ap1", "/sysupgrade.img").size() == image_.size(); }, 60s))
		<< ap_log("ap1") << fleetd_log();
	EXPECT_TRUE(ap_file("ap1", "/sysupgrade.img") == image_);
	EXPECT_NE(ap_log("ap1").find("Receive FIRMWARE message (version 23.05.3, model zev-ap1)"), std::string::npos);
	EXPECT_TRUE(ap_in("offered")) << rollout();
	EXPECT_NE(fleetd_log().find("fleetd.notice: Send VERSION 23.05.3 revision r43"), std::string::npos);

	ASSERT_NO_FATAL_FAILURE(reboot_into("r43"));
	ASSERT_NO_FATAL_FAILURE(wait_adopted("ap1", 2));
	ASSERT_TRUE(pump([&] { return rollout().find(R"("state":"finished")") != std::string::npos; }, 30s))
		<< rollout() << fleetd_log();
	std::string r = rollout();
	EXPECT_NE(r.find(R"("counts":{"queued":0,"offered":0,"installing":0,"done":1,"failed":0})"), std::string::npos) << r;
	EXPECT_NE(fleet("show", R"({"id":")" + id("ap1") + R"("})").find(R"("fw_revision":"r43")"), std::string::npos);
	std::string h = fleet("history", R"({"id":")" + id("ap1") + R"("})");
	// Queued, offered, offline to install (in the rollout too, when a round
	// saw it so), back with the new revision.
	size_t at = 0;
	for (const char *step : {R"("detail":"rollout 1 to r43: queued")", R"("detail":"rollout 1: offered)",
				 R"("kind":"offline")", R"x("detail":"rollout 1: done (runs r43)")x"}) {
		size_t next = h.find(step, at);
		EXPECT_NE(next, std::string::npos) << step << " after " << at << " in " << h;
		at = next == std::string::npos ? at : next;
	}

	wlctest::RunResult out = fleetctl_run({"rollout", "show"});
	EXPECT_EQ(out.status, 0) << out.err;
	EXPECT_NE(out.out.find("rollout 1 of 23.05.3 r43: finished, 1/1 done, 0 failed"), std::string::npos) << out.out;
}

TEST_F(FleetFirmwareSite, ApBackWithTheOldRevisionHaltsTheRolloutAndTheReleaseIsGivenBack)
{
	start_ap("ap1");
	ASSERT_NO_FATAL_FAILURE(wait_adopted("ap1"));
	ASSERT_EQ(fleet("firmware_image", R"({"image":"fw/r43.bin"})"), R"({"model":"","image":"fw/r43.bin"})");
	// The release the site runs, with nothing to do.
	ASSERT_EQ(fleet("rollout_start", std::string(R"({"version":"23.05.2","revision":")") + kRevision + "\"}"),
		  R"({"id":1,"aps":0})");
	ASSERT_TRUE(pump([&] { return rollout().find(R"("state":"finished")") != std::string::npos; }, 30s)) << rollout();
	ASSERT_EQ(fleet("rollout_start", R"({"version":"23.05.3","revision":"r43","max_failures":1})"), R"({"id":2,"aps":1})");
	ASSERT_TRUE(pump([&] { return ap_file("ap1", "/stubs.log").find("sysupgrade") != std::string::npos; }, 60s))
		<< ap_log("ap1") << fleetd_log();

	// The install did not take: the AP comes back as it was.
	ASSERT_NO_FATAL_FAILURE(reboot_into(kRevision));
	ASSERT_TRUE(pump([&] { return rollout().find(R"("state":"halted")") != std::string::npos; }, 60s))
		<< rollout() << fleetd_log();
	EXPECT_TRUE(ap_in("failed")) << rollout();
	EXPECT_NE(rollout().find(std::string("back with ") + kRevision), std::string::npos) << rollout();
	// The old release is the retained VERSION again, so the AP is adopted with its own.
	ASSERT_TRUE(pump([&] { return ap_log("ap1").rfind("Status: ADOPTED") > ap_log("ap1").rfind("Status: FW_UPDATE"); },
			 30s)) << ap_log("ap1");
	EXPECT_EQ(fleetd_logged(std::string("Send VERSION 23.05.2 revision ") + kRevision), 2u) << fleetd_log();
	EXPECT_NE(fleet("firmware_show", "{}").find(std::string(R"("revision":")") + kRevision), std::string::npos);
}

} // namespace
} // namespace fleettest
