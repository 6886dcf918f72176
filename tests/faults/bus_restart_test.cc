// The bus daemon killed and started again under every daemon: each one
// connects again on its own, its objects are back on the new bus and answer
// as they did before, and the daemon itself never restarted.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include "ap_fixture.h"
#include "bus_probe.h"
#include "sim_site.h"

namespace {

using namespace faulttest;
using wlctest::pump;

// A daemon on a simulated access point with its own bus daemon, and a
// stand-in for the MQTT bridge "mqtt.wlc" (taking every publication) on this
// test's connection, which reconnects as the daemons do.
class DeviceDaemon : public ::testing::Test {
protected:
	void SetUp() override
	{
		uloop_init();
		site_ = std::make_unique<wlctest::SimSite>(
			root_, std::vector<wlctest::SimDevice>{
				       {"ap1", R"("lan_mac": "00:11:22:a3:b4:c5", "radios": [{"band": 2, "channel": 6}])"}});
		dev_ = site_->root_of("ap1");
		socket_ = dev_ + "/var/run/ubus/ubus.sock";
		wlctest::write_text(dev_ + "/var/run/ubus/.keep", "");
		ubusd_ = wlctest::start_bus_daemon(socket_);
		ASSERT_TRUE(bus_.connect(socket_));
		bus_.watch();
		bridge_ = std::make_unique<wlc::BusObject>(
			"mqtt.wlc", std::vector<wlc::Method>{{"send", {}, [](wlc::Request &, blob_attr *) { return 0; }}},
			"mqtt.instance");
		ASSERT_EQ(bridge_->add(bus_), UBUS_STATUS_OK);
	}
	void TearDown() override
	{
		daemon_.reset();
		bridge_.reset();
		bus_.close();
		ubusd_.reset();
		site_.reset();
		uloop_done();
	}
	void start(const std::string &program, const std::vector<std::string> &args, const std::string &object)
	{
		std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/" + program};
		argv.insert(argv.end(), args.begin(), args.end());
		daemon_ = std::make_unique<wlctest::Process>(
			argv, std::vector<std::string>{"WLC_ROOT=" + dev_, "WLC_LOG_FILE=" + log_path(),
						       "PATH=" + std::string(WLC_BUILD_DIR) + "/sim/bin:/usr/bin:/bin"});
		ASSERT_TRUE(pump([&] { return bus_.lookup(object) != 0; }, wlctest::kStartLimit)) << log();
	}
	// The object answers the call after the restart exactly as it did before.
	void answers_after_restart(const std::string &object, const std::string &method, const std::string &json)
	{
		Answer before = ask(bus_, object, method, json);
		ASSERT_NE(before.status, -1) << log();
		ASSERT_NE(before.status, UBUS_STATUS_NOT_FOUND);
		ASSERT_TRUE(restart_bus_and_wait(ubusd_, socket_, bus_, {object, "mqtt.wlc"})) << log();
		EXPECT_EQ(ask(bus_, object, method, json), before) << log();
		EXPECT_TRUE(daemon_->running()) << log();
	}
	std::string log_path() const { return dev_ + "/daemon.log"; }
	std::string log() const
	{
		struct stat st;
		return stat(log_path().c_str(), &st) == 0 ? wlctest::read_text(log_path()) : std::string();
	}

	wlctest::TempRoot root_;
	std::unique_ptr<wlctest::SimSite> site_;
	std::string dev_, socket_;
	std::unique_ptr<wlctest::Process> ubusd_;
	wlc::Bus bus_;
	std::unique_ptr<wlc::BusObject> bridge_;
	std::unique_ptr<wlctest::Process> daemon_;
};

TEST_F(DeviceDaemon, VigilAnswersAgain)
{
	start("vigil/vigil", {}, "vigil");
	Answer health = ask(bus_, "vigil", "health");
	ASSERT_EQ(health.status, 0) << log();
	ASSERT_TRUE(restart_bus_and_wait(ubusd_, socket_, bus_, {"vigil"})) << log();
	health = ask(bus_, "vigil", "health");
	EXPECT_EQ(health.status, 0) << log();
	EXPECT_NE(health.reply.find("\"storage_total\""), std::string::npos) << health.reply;
	EXPECT_TRUE(daemon_->running()) << log();
}

TEST_F(DeviceDaemon, RrmAgentAnswersAgain)
{
	start("rrm/rrm_agent",
	      {"-p", "pol", "-s", "site1", "-b", "0", "-c", "1", "-c", "6", "-c", "11", "-i", "50", "-g", "1", "-r", "1"},
	      "rrm_agent.0");
	answers_after_restart("rrm_agent.0", "config", R"({"channel": 11})");
}

TEST_F(DeviceDaemon, RrmControllerAnswersAgain)
{
	start("rrm/rrm_ctrl",
	      {"-p", "pol", "-s", "site1", "-b", "1", "-c", "1", "-c", "6", "-c", "11", "-w", "20", "-n", "medium", "-r",
	       "graceful", "-l", "10", "-h", "20"},
	      "rrm_ctrl.site1.1");
	answers_after_restart("rrm_ctrl.site1.1", "model", "{}");
}

TEST_F(DeviceDaemon, IappAnswersAgain)
{
	start("iapp/iapp", {"-s", "hq", "-i", "ra0:1:office"}, "iapp");
	// A station unknown to the driver: refused the same way before and after.
	answers_after_restart("iapp", "sta_move", R"({"from": "ap2", "wlan": "office", "sta": "aa:bb:cc:00:00:01"})");
}

// mast in the controller role: its status object and the bridge object it
// holds while connected to the broker are both back.
class ControllerBusRestart : public masttest::ControllerTest {};

TEST_F(ControllerBusRestart, MastAnswersAgain)
{
	start_mast();
	Answer before = ask(client_, "mast", "status");
	ASSERT_EQ(before.status, 0) << log_text();
	ASSERT_TRUE(restart_bus_and_wait(*bus_, client_, {"mast", "mqtt.wlc"})) << log_text();
	EXPECT_EQ(ask(client_, "mast", "status"), before) << log_text();
	EXPECT_TRUE(mast_->running());
}

// mast in the AP role, joined to a controller: the same on the AP's bus.
class ApBusRestart : public masttest::ApTest {};

TEST_F(ApBusRestart, MastAnswersAgain)
{
	join();
	Answer before = ask(ap_bus_, "mast", "status");
	ASSERT_EQ(before.status, 0) << ap_log();
	ASSERT_TRUE(restart_bus_and_wait(ap_bus_daemon_, ap_path("/var/run/ubus/ubus.sock"), ap_bus_, {"mast", "mqtt.wlc"}))
		<< ap_log();
	EXPECT_EQ(ask(ap_bus_, "mast", "status"), before) << ap_log();
	EXPECT_TRUE(ap_mast_->running());
}

} // namespace
