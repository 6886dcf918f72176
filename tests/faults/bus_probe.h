// Asking a daemon's object over the bus, and the bus daemon's restart seen
// from a test's own connection.
#pragma once

#include <wlc/bus.h>

#include <chrono>
#include <string>

#include "harness.h"

namespace faulttest {

using namespace std::chrono_literals;

struct Answer {
	int status = -1; // -1: no answer
	std::string reply; // the reply's fields as JSON

	bool operator==(const Answer &) const = default;
};

// A call through bus with the loop running; the object looked up each time.
Answer ask(wlc::Bus &bus, const std::string &object, const std::string &method, const std::string &json = "{}");

// Kills the bus daemon behind socket, starts a new one, and waits until bus
// (watched) is connected again and every object in objects is back.
[[nodiscard]] bool restart_bus_and_wait(std::unique_ptr<wlctest::Process> &daemon, const std::string &socket,
					wlc::Bus &bus, const std::vector<std::string> &objects);

// The same for a harness bus daemon.
[[nodiscard]] bool restart_bus_and_wait(wlctest::BusDaemon &daemon, wlc::Bus &bus,
					const std::vector<std::string> &objects);

} // namespace faulttest
