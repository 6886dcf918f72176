// fleetd as a process of its own on a test device (own root and bus
// daemon), reached by this test's own bus connection and by fleetctl.
#pragma once

#include <wlc/bus.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "harness.h"

namespace fleettest {

using namespace std::chrono_literals;

// The inventory file of a test device, under its root.
inline constexpr const char *kDatabase = "/etc/fleet/fleet.db";

class FleetdTest : public wlctest::DeviceTest {
protected:
	void SetUp() override;
	void TearDown() override;

	// Starts fleetd with these options (besides the bus socket) and waits for
	// its objects.
	void start_fleetd(const std::vector<std::string> &args = {"-m", "auto"});
	// Kills fleetd at once and waits until the bus has let its objects go.
	void kill_fleetd();
	// A call of fleetd's objects; the reply's fields as JSON in *reply.
	int call(const std::string &object, const std::string &method, const std::string &json,
		 std::string *reply = nullptr);
	wlctest::RunResult fleetctl(const std::vector<std::string> &args);
	std::string log_text() const;
	// How often the log holds the text.
	size_t logged(const std::string &text) const;

	std::unique_ptr<wlctest::Process> fleetd_;
	wlc::Bus client_;
};

// A join record as the controller's mast sends it.
std::string join_json(const std::string &id, const std::string &serial = "S1");

} // namespace fleettest
