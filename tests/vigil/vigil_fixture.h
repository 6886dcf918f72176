// vigil on a simulated access point: the device simulator, the AP's own bus
// daemon, the platform's "system" stand-in and vigil as a separate process,
// questioned through this test's own bus connection.
#pragma once

#include <wlc/bus.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"
#include "sim_site.h"

namespace vigiltest {

using namespace std::chrono_literals;

class VigilTest : public ::testing::Test {
protected:
	void SetUp() override;
	void TearDown() override;

	// Lays out the site (extra members of ap1's device object) and starts its bus.
	void start_site(const std::string &device_json = "");
	// The same with more devices (ap1 first) and the site's "hear" members.
	void start_site(const std::vector<wlctest::SimDevice> &devices, const std::string &hear_json);
	void start_system();
	// The platform's "network.interface.*" objects.
	void start_network();
	// Starts vigil with extra arguments and waits for its object. path: PATH
	// for vigil (default: the platform stand-ins, then the host's).
	void start_vigil(const std::vector<std::string> &args = {}, const std::string &path = "");
	// A call through the bus; the reply's fields as JSON in *reply.
	int call(const std::string &method, const std::string &json = "{}", std::string *reply = nullptr,
		 std::chrono::milliseconds limit = 20s);
	std::string log_text() const;
	std::string dev(const std::string &abs) const { return site_->root_of("ap1") + abs; }

	// A program vigil is started under (its arguments first), e.g. one that makes a system call fail.
	std::vector<std::string> vigil_wrapper_;
	std::unique_ptr<wlctest::TempRoot> root_;
	std::unique_ptr<wlctest::SimSite> site_;
	std::unique_ptr<wlctest::Process> ubusd_;
	std::unique_ptr<wlctest::Process> system_;
	std::unique_ptr<wlctest::Process> network_;
	std::unique_ptr<wlctest::Process> vigil_;
	std::string socket_;
	wlc::Bus client_;
};

// The JSON of one field of a reply, e.g. field(r, "cpu") == "[ 0, 0, 0 ]" style compact text.
std::string field(const std::string &json, const std::string &name);
// The text of a string field ("<absent>" when there is none).
std::string text_field(const std::string &json, const std::string &name);

} // namespace vigiltest
