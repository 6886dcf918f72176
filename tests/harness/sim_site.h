// A simulated site for a test: device roots laid out by the device
// simulator, which then answers their driver requests, plus its script
// commands.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "harness.h"

namespace wlctest {

struct SimDevice {
	std::string name;
	std::string extra_json; // more members of the device object, e.g. "\"model\": \"zev-ap2\""
};

class SimSite {
public:
	// hear_json: the site's "hear" array members, e.g. {"a":"ap1","b":"ap2","rssi":-60}
	SimSite(const TempRoot &root, const std::vector<SimDevice> &devices, const std::string &hear_json = "");
	~SimSite();

	std::string root_of(const std::string &device) const;
	// Points WLC_ROOT at the device and PATH at the platform command stand-ins.
	void use(const std::string &device) const;
	// A script command; returns the simulator's answer ("ok" or "error: ...").
	std::string command(const std::string &line) const;
	Process &process() { return *proc_; }

private:
	std::string dir_;
	std::string control_;
	std::unique_ptr<Process> proc_;
};

} // namespace wlctest
