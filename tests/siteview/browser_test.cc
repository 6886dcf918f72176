// The site view in a real browser against the simulated site: the real
// broker, mast -r wlc, fleetd (site1 approves by hand), five APs each with
// its bus and mast, RRM agents on four of them and rrm_ctrl for site1's
// radio 0 on the controller, the session service, and lighttpd running the
// gateway. fleetd taps the broker; ap1 has a system log service, whose
// entries its mast streams to the controller. Headless Chromium, driven through chromedriver by the script
// browser_steps.py, logs in and works the page; screenshots go to this
// test's build directory.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>

#include "broker.h"
#include "gateway_fixture.h"
#include "site_fixture.h"

namespace siteviewtest {
namespace {

using masttest::pump;

constexpr int kPort = 8080;
const std::vector<std::string> kRrmAps = {"ap1", "ap2", "ap3", "ap4"};

using wlctest::port_open;

class BrowserSiteTest : public fleettest::FleetSiteTest {
protected:
	std::vector<std::string> devices() const override { return {"ap1", "ap2", "ap3", "ap4", "ap5"}; }
	std::vector<std::string> fleetd_args() const override { return {"-m", "manual", "-n", "site1", "-b", "1883"}; }
	std::string device_json() const override { return R"("radios": [{"band": 2, "channel": 6}])"; }
	std::string hear_json() const override
	{
		return R"({"a": "ap1", "b": "ap2", "rssi": -60}, {"a": "ap1", "b": "ap3", "rssi": -70},)"
		       R"({"a": "ap2", "b": "ap3", "rssi": -80}, {"a": "ap3", "b": "ap4", "rssi": -60},)"
		       R"({"a": "ap2", "b": "ap4", "rssi": -90})";
	}
	std::vector<std::string> controller_mast_args() const override { return {"-m", "site1"}; }
	std::vector<std::string> ap_mast_args() const override { return {"-h", "127.0.0.1:8883", "-g", "0:site1"}; }

	void SetUp() override;
	void TearDown() override;
	void start_session_service();
	void start_ap_log(const std::string &name);
	std::string ap_socket(const std::string &name) const { return ap_root(name) + "/var/run/ubus/ubus.sock"; }
	void start_rrm();
	void start_web();
	std::string model_text();

	std::unique_ptr<wlctest::Process> session_;
	std::unique_ptr<wlctest::Process> ctrl_;
	std::map<std::string, std::unique_ptr<wlctest::Process>> agents_;
	std::unique_ptr<wlctest::Process> web_;
	std::unique_ptr<wlctest::Process> ap_log_service_;
};

// The bus tool as the script runs it: through the emulator when it was
// built here for another machine.
std::string ubus_command()
{
	std::string ubus = wlctest::ubus_tool();
	if (!std::string(WLC_EMULATOR).empty() && ubus.starts_with(std::string(WLC_BUILD_DIR) + "/"))
		ubus = std::string(WLC_EMULATOR) + " " + ubus;
	return ubus;
}

void BrowserSiteTest::SetUp()
{
	FleetSiteTest::SetUp();
	if (IsSkipped() || HasFatalFailure())
		return;
	ASSERT_NO_FATAL_FAILURE(start_session_service());
	ASSERT_TRUE(wlctest::wait_until(
		[&] { return broker_->subscriptions("fleetd-tap", "zev/wlc/telemetry/ap/+/log") > 0; }, wlctest::kStartLimit))
		<< fleetd_log();
	for (const std::string &name : devices())
		ASSERT_NO_FATAL_FAILURE(start_ap(name));
	// Before ap1 is adopted: its mast opens the log stream once adopted.
	ASSERT_NO_FATAL_FAILURE(start_ap_log("ap1"));
	for (const std::string &name : devices())
		ASSERT_TRUE(pump([&] { return state_of(name) == "pending"; }, wlctest::kStartLimit)) << fleetd_log();
	for (const std::string &name : kRrmAps) {
		ASSERT_EQ(fleet("approve", R"({"id":")" + id(name) + "\"}").rfind("status", 0), std::string::npos);
		ASSERT_NO_FATAL_FAILURE(wait_adopted(name));
	}
	ASSERT_NO_FATAL_FAILURE(start_rrm());
	ASSERT_NO_FATAL_FAILURE(start_web());
}

void BrowserSiteTest::TearDown()
{
	web_.reset();
	ap_log_service_.reset();
	agents_.clear();
	ctrl_.reset();
	session_.reset();
	FleetSiteTest::TearDown();
}

void BrowserSiteTest::start_session_service()
{
	wlctest::write_text(root_->at("/etc/siteview/logins.json"), logins_json());
	wlctest::write_text(root_->at("/usr/share/rpcd/acl.d/wlc-siteview.json"),
			    wlctest::read_text(std::string(WLC_SOURCE_DIR) + "/siteview/acl/wlc-siteview.json"));
	session_ = std::make_unique<wlctest::Process>(
		std::vector<std::string>{std::string(WLC_BUILD_DIR) + "/siteview/siteview_session", "-s", bus_->socket()},
		std::vector<std::string>{"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + root_->path() + "/session.log"});
	ASSERT_TRUE(pump([&] { return has_object("session"); }, wlctest::kStartLimit));
}

void BrowserSiteTest::start_ap_log(const std::string &name)
{
	std::string socket = ap_socket(name);
	ap_log_service_ = std::make_unique<wlctest::Process>(
		std::vector<std::string>{std::string(WLC_BUILD_DIR) + "/sim/sim_log", "-s", socket},
		std::vector<std::string>{"WLC_ROOT=" + ap_root(name)});
	ASSERT_TRUE(wlctest::wait_until(
		[&] { return wlctest::run({"/bin/sh", "-c", ubus_command() + " -s " + socket + " call log readers"}).status == 0; },
		wlctest::kStartLimit));
}

std::string BrowserSiteTest::model_text()
{
	std::string reply;
	return call("rrm_ctrl.site1.0", "model", "{}", &reply) == 0 ? reply : "";
}

void BrowserSiteTest::start_rrm()
{
	ctrl_ = std::make_unique<wlctest::Process>(
		std::vector<std::string>{std::string(WLC_BUILD_DIR) + "/rrm/rrm_ctrl", "-p", "pol", "-s", "site1", "-b", "0",
					 "-c", "1", "-c", "6", "-c", "11", "-w", "20", "-n", "medium", "-r", "graceful",
					 "-l", "10", "-h", "20"},
		std::vector<std::string>{"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + root_->path() + "/ctrl.log"});
	ASSERT_TRUE(pump([&] { return has_object("rrm_ctrl.site1.0"); }, wlctest::kStartLimit));
	for (const std::string &name : kRrmAps) {
		std::string root = ap_root(name);
		agents_[name] = std::make_unique<wlctest::Process>(
			std::vector<std::string>{std::string(WLC_BUILD_DIR) + "/rrm/rrm_agent", "-p", "pol", "-s", "site1",
						 "-b", "0", "-c", "1", "-c", "6", "-c", "11", "-i", "50", "-g", "1", "-r",
						 "1", "-l", "-w"},
			std::vector<std::string>{"WLC_ROOT=" + root, "WLC_LOG_FILE=" + root + "/rrm.log"});
	}
	// The controller builds its model at a step: power steps every second
	// until every agent's reports are in it (the channels stay), then back
	// to the usual pace.
	ASSERT_EQ(call("rrm_ctrl.site1.0", "config", R"({"power_timer":1})"), 0);
	ASSERT_TRUE(pump(
		[&] {
			std::string m = model_text();
			for (const std::string &name : kRrmAps)
				if (m.find(R"("id":")" + id(name) + R"(","channel":6)") == std::string::npos)
					return false;
			return true;
		},
		wlctest::kStartLimit))
		<< model_text() << "\nrrm_ctrl:\n"
		<< wlctest::read_text(root_->path() + "/ctrl.log") << "\nap1's agent:\n"
		<< wlctest::read_text(ap_root("ap1") + "/rrm.log") << "\nap1's mast:\n" << ap_log("ap1") << "\ncontroller's mast:\n" << log_text();
}

void BrowserSiteTest::start_web()
{
	std::string dir = root_->path() + "/web";
	wlctest::write_text(dir + "/.keep", "");
	web_ = std::make_unique<wlctest::Process>(std::vector<std::string>{
		std::string(WLC_BUILD_DIR) + "/siteview/siteview_serve", "-w", std::string(WLC_SOURCE_DIR) + "/siteview/www",
		"-g", std::string(WLC_BUILD_DIR) + "/siteview/siteview_gateway", "-d", dir, "-p", std::to_string(kPort), "-s",
		bus_->socket(), "-i", WLC_EMULATOR});
	ASSERT_TRUE(wlctest::wait_until([] { return port_open(kPort); }, wlctest::kStartLimit))
		<< wlctest::read_text(dir + "/lighttpd.log");
}

TEST_F(BrowserSiteTest, OperatorWorksTheSiteInChromium)
{
	std::string out = std::string(WLC_BINARY_DIR_HERE) + "/artefacts";
	std::filesystem::create_directories(out);
	std::string ubus = ubus_command();
	std::string ids;
	for (const std::string &name : kRrmAps)
		ids += (ids.empty() ? "" : ",") + id(name);
	wlctest::RunResult r = wlctest::run(
		{"/usr/bin/python3", std::string(WLC_SOURCE_DIR) + "/tests/siteview/browser_steps.py", "--url",
		 "http://127.0.0.1:" + std::to_string(kPort) + "/", "--out", out, "--home", root_->path() + "/browser",
		 "--ubus", ubus, "--socket", bus_->socket(), "--ap-socket", ap_socket("ap1"), "--adopted", ids,
		 "--pending", id("ap5"),
		 "--admin-password", kAdminPassword, "--viewer-password", kViewerPassword},
		std::chrono::seconds(300));
	EXPECT_EQ(r.status, 0) << r.out << r.err << "\nsession log:\n"
			       << wlctest::read_text(root_->path() + "/session.log") << "\nlighttpd log:\n"
			       << wlctest::read_text(root_->path() + "/web/lighttpd.log");
	std::cout << r.out;
	EXPECT_EQ(state_of("ap5"), "adopted") << fleetd_log();
	// The step the page showed moved an AP off channel 6.
	std::string m = model_text();
	EXPECT_TRUE(m.find(R"("channel":1,)") != std::string::npos || m.find(R"("channel":11,)") != std::string::npos) << m;
}

} // namespace
} // namespace siteviewtest
