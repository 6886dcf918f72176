// An RRM controller in this process on a bus of its own, with a clock the
// test sets, and the reports of a small simulated site.
#pragma once

#include <map>

#include "common/codec.h"
#include "ctrl/controller.h"
#include "rrm_fixture.h"

namespace rrmtest {

// What the APs of a site are set to and who hears whom (symmetric).
struct SiteModel {
	std::map<std::string, rrm::RadioReport> radios;
	std::map<std::pair<std::string, std::string>, int> rssi;

	void ap(const std::string &id, int channel, int power = 20);
	void hear(const std::string &a, const std::string &b, int r);
	rrm::BssList heard_by(const std::string &id) const;
	static rrm::Mac bssid(const std::string &id);
};

// The site of the worked case: a, b, c, d on channel 6.
SiteModel worked_site();

class CtrlTest : public BusTest {
protected:
	void SetUp() override;
	void TearDown() override;

	void start(std::vector<std::string> extra = {});
	void stop() { ctrl_.reset(); }
	int report_add(const std::string &type, const std::string &id, const std::function<void(wlc::BlobBuf &)> &encode);
	// Every AP of the site sends its radio and BSS reports.
	void report_site(const SiteModel &site);
	std::string model_json();

	const std::string object_ = "rrm_ctrl.site1.1";
	int64_t now_ = 1700000000;
	wlc::Bus ctrl_bus_;
	std::unique_ptr<rrm::Controller> ctrl_;
};

} // namespace rrmtest
