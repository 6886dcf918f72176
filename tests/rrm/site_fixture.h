// A simulated site of four APs on channel 6 with the worked case's
// neighbourhood, end to end: on every AP an RRM agent scanning the
// simulator's world and the AP's real adopted mast (mast -a, TLS with the
// broker's certificate pinned) relaying its reports to the real broker; on
// the controller the real mast -r wlc and rrm_ctrl, whose commands travel
// back the same way to the agents, which set the simulated radios.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "adopted_ap.h"
#include "controller_fixture.h"
#include "sim_site.h"

namespace rrmtest {

using namespace std::chrono_literals;

// The APs in the worked case's order a < b < c < d.
inline const std::vector<std::string> kAps = {"ap1", "ap2", "ap3", "ap4"};

class SiteTest : public masttest::ControllerTest {
protected:
	void SetUp() override;
	void TearDown() override;

	// The site's locked-down broker (the default), or an open one.
	virtual bool locked_down() const { return true; }
	// What the controller's own clients connect to the broker with.
	wlctest::ClientAuth controller_auth() const { return site_ca_ ? site_ca_->controller_auth() : wlctest::ClientAuth{}; }
	// rrm_ctrl with the site's options and any given after them.
	void start_ctrl(const std::vector<std::string> &extra = {});
	int stop_ctrl();
	// The AP's bus, adopted mast and RRM agent.
	void start_ap(const std::string &name);
	// Waits until the AP's mast has the RRM command topics subscribed again
	// (more often than `before`).
	bool ap_subscribed(const std::string &name, int before = 0);
	int ap_subscriptions(const std::string &name);
	// How many radio reports of this AP the controller's mast has relayed.
	size_t reports_relayed(const std::string &name);
	// Waits until every AP's reports are relayed more often than now.
	bool all_report_again(const std::vector<std::string> &names);

	std::string id(const std::string &name) const { return ids_.at(name); }
	std::string radio(const std::string &ap) const { return site_->command("radio " + ap + " 0"); }
	std::string channels() const; // e.g. "6 11 1 6 "
	std::string ctrl_log() const { return wlctest::read_text(root_->path() + "/ctrl.log"); }
	std::string agent_log(const std::string &name) const { return wlctest::read_text(site_->root_of(name) + "/rrm.log"); }
	std::string model();
	// Each AP's penalty in a model reply: the sum of its observers' penalties.
	static std::map<std::string, unsigned> penalties(const std::string &model_json);

	wlctest::TestPki pki_;
	std::unique_ptr<wlctest::SimSite> site_;
	std::unique_ptr<wlctest::Process> ctrl_;
	std::map<std::string, std::string> ids_;
	std::map<std::string, std::unique_ptr<masttest::AdoptedAp>> aps_;
	std::map<std::string, std::unique_ptr<wlctest::Process>> agents_;
};

} // namespace rrmtest
