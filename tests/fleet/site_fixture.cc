// The controller with fleetd and its APs.
#include "site_fixture.h"

#include <csignal>
#include <unistd.h>

#include "adopted_ap.h"

namespace fleettest {

using masttest::pump;

void FleetSiteTest::SetUp()
{
	ControllerTest::SetUp();
	if (IsSkipped() || HasFatalFailure())
		return;
	pki_ = wlctest::make_test_pki(*root_);
	broker_.reset();
	broker_ = std::make_unique<wlctest::Broker>(*root_, wlctest::BrokerOptions{1883, 8883, &pki_, true});
	stand_in("log", {"add"});
	ASSERT_NO_FATAL_FAILURE(start_mast(controller_mast_args()));
	ASSERT_NO_FATAL_FAILURE(start_fleetd());
	std::vector<wlctest::SimDevice> sim;
	for (const std::string &name : devices())
		sim.push_back({name, std::string(R"("revision": ")") + kRevision + R"(", "release": "23.05.2")" +
					     (device_json().empty() ? "" : ", " + device_json())});
	site_ = std::make_unique<wlctest::SimSite>(*root_, sim, hear_json());
	ASSERT_NO_FATAL_FAILURE(masttest::publish_version(1883, kRevision));
}

void FleetSiteTest::TearDown()
{
	ap_masts_.clear();
	ap_buses_.clear();
	fleetd_.reset();
	site_.reset();
	ControllerTest::TearDown();
}

void FleetSiteTest::start_fleetd()
{
	std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/fleet/fleetd", "-s", bus_->socket()};
	std::vector<std::string> args = fleetd_args();
	argv.insert(argv.end(), args.begin(), args.end());
	fleetd_ = std::make_unique<wlctest::Process>(
		argv, std::vector<std::string>{"WLC_ROOT=" + root_->path(), "WLC_LOG_FILE=" + root_->path() + "/fleetd.log"});
	ASSERT_TRUE(pump([&] { return has_object("fleet") && has_object("db.ap"); }, wlctest::kStartLimit)) << fleetd_log();
}

std::string FleetSiteTest::id(const std::string &name)
{
	return "ap1-a" + std::to_string(std::stoi(name.substr(2)) + 2) + "-b4-c5";
}

std::string FleetSiteTest::ap_file(const std::string &name, const std::string &abs) const
{
	return wlctest::read_text(ap_root(name) + abs);
}

void FleetSiteTest::start_ap(const std::string &name)
{
	std::string root = ap_root(name);
	std::string socket = root + "/var/run/ubus/ubus.sock";
	if (!ap_buses_.count(name)) {
		wlctest::write_text(root + "/var/run/ubus/.keep", "");
		ap_buses_[name] = std::make_unique<wlctest::Process>(std::vector<std::string>{WLC_UBUSD, "-s", socket});
		ASSERT_TRUE(wlctest::wait_until([&] { return access(socket.c_str(), F_OK) == 0; }, wlctest::kStartLimit));
		wlctest::write_text(root + "/data/ssl/mqtt.crt", wlctest::read_text(pki_.client_cert));
		wlctest::write_text(root + "/data/ssl/mqtt.key", wlctest::read_text(pki_.client_key));
		wlctest::write_text(root + "/tmp/running.config", R"({"ssid":"old"})");
		wlctest::write_text(root + "/proc/sys/kernel/hostname", name + "\n");
		wlctest::RunResult r =
			wlctest::run({"/bin/sh", std::string(WLC_SOURCE_DIR) + "/sim/tools/platform-stubs.sh", root});
		ASSERT_EQ(r.status, 0) << r.err;
	}
	std::string path = root + "/usr/sbin:" + root + "/usr/bin:" + root + "/sbin:" + root + "/bin";
	std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/mast/mast"};
	std::vector<std::string> args = ap_mast_args();
	argv.insert(argv.end(), args.begin(), args.end());
	ap_masts_[name] = std::make_unique<wlctest::Process>(
		argv,
		std::vector<std::string>{"WLC_ROOT=" + root, "WLC_LOG_FILE=" + root + "/mast.log", "PATH=" + path});
}

void FleetSiteTest::stop_ap(const std::string &name)
{
	ap_masts_[name]->kill(SIGTERM);
	ap_masts_[name]->wait(wlctest::kStartLimit);
	ap_masts_.erase(name);
}

void FleetSiteTest::wait_adopted(const std::string &name, int subscriptions)
{
	std::string topic = "zev/wlc/config/ap/" + id(name) + "/config";
	ASSERT_TRUE(masttest::wait_subscribed(*broker_, id(name), topic, subscriptions - 1))
		<< ap_log(name) << fleetd_log();
	ASSERT_TRUE(pump([&] { return state_of(name) == "adopted"; }, wlctest::kStartLimit)) << fleetd_log();
}

std::string FleetSiteTest::fleetd_log() const
{
	return wlctest::read_text(root_->path() + "/fleetd.log");
}

size_t FleetSiteTest::fleetd_logged(const std::string &text) const
{
	std::string log = fleetd_log();
	size_t n = 0;
	for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
		n++;
	return n;
}

std::string FleetSiteTest::fleet(const std::string &method, const std::string &json)
{
	std::string reply;
	int status = call("fleet", method, json, &reply);
	return status == 0 ? reply : "status " + std::to_string(status) + " " + reply;
}

std::string FleetSiteTest::state_of(const std::string &name)
{
	std::string reply = fleet("show", R"({"id":")" + id(name) + R"("})");
	size_t at = reply.find(R"("state":")");
	if (at == std::string::npos)
		return "";
	at += 9;
	return reply.substr(at, reply.find('"', at) - at);
}

} // namespace fleettest

namespace fleettest {

wlctest::RunResult FleetSiteTest::fleetctl_run(const std::vector<std::string> &args)
{
	std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/fleet/fleetctl", "-s", bus_->socket()};
	argv.insert(argv.end(), args.begin(), args.end());
	return wlctest::run(argv, 30s);
}

} // namespace fleettest
