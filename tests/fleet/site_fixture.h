// A controller with fleetd and real APs, all in this test's own network
// namespace: the real broker (plain listener for the controller, TLS with
// client certificates for APs), mast -r wlc, fleetd serving "db.ap" and
// "fleet", and simulated devices each with its own root, bus daemon,
// recording stand-ins for the platform commands and mast in the AP role,
// which joins the controller and is approved by fleetd.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "controller_fixture.h"
#include "sim_site.h"

namespace fleettest {

using namespace std::chrono_literals;

// The revision the devices run, and the one the controller offers first.
inline constexpr const char *kRevision = "r42-abc";

class FleetSiteTest : public masttest::ControllerTest {
protected:
	void SetUp() override;
	void TearDown() override;

	// The devices of the site ("ap1", "ap2", ...), before SetUp runs.
	virtual std::vector<std::string> devices() const { return {"ap1", "ap2"}; }
	virtual std::vector<std::string> fleetd_args() const { return {"-m", "auto", "-n", "hq"}; }
	// More members of each device's object in the site file, and the site's
	// "hear" members (who hears whom).
	virtual std::string device_json() const { return {}; }
	virtual std::string hear_json() const { return {}; }
	// The options of the controller's mast, and of each AP's.
	virtual std::vector<std::string> controller_mast_args() const { return {}; }
	virtual std::vector<std::string> ap_mast_args() const { return {"-h", "127.0.0.1:8883"}; }

	void start_fleetd();
	// Starts the AP's mast (its bus daemon the first time).
	void start_ap(const std::string &name);
	// Stops the AP's mast with SIGTERM (its will tells it is gone).
	void stop_ap(const std::string &name);
	// Waits until fleetd has the AP adopted and its mast subscribed to its
	// configuration topic for the n-th time.
	void wait_adopted(const std::string &name, int subscriptions = 1);

	// The simulator's default base addresses: ap<n> is ap1-a<n+2>-b4-c5.
	static std::string id(const std::string &name);
	std::string ap_root(const std::string &name) const { return site_->root_of(name); }
	std::string ap_file(const std::string &name, const std::string &abs) const;
	std::string ap_log(const std::string &name) const { return ap_file(name, "/mast.log"); }
	std::string fleetd_log() const;
	size_t fleetd_logged(const std::string &text) const;
	// A fleet call's reply, or "status <n> <reply>" when it failed.
	std::string fleet(const std::string &method, const std::string &json);
	std::string state_of(const std::string &name);
	wlctest::RunResult fleetctl_run(const std::vector<std::string> &args);

	wlctest::TestPki pki_;
	std::unique_ptr<wlctest::SimSite> site_;
	std::unique_ptr<wlctest::Process> fleetd_;
	std::map<std::string, std::unique_ptr<wlctest::Process>> ap_buses_;
	std::map<std::string, std::unique_ptr<wlctest::Process>> ap_masts_;
};

} // namespace fleettest
