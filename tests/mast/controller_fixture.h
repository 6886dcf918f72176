// A controller under test: its own network namespace (the system fixes the
// broker port), device root and bus daemon, the real broker, stand-ins for
// the controller's services ("db.ap", "log", RRM controllers) recording every
// call, and mast itself as a separate process.
#pragma once

#include <wlc/bus.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "broker.h"
#include "harness.h"
#include "mqtt_client.h"
#include "site_authority.h"

namespace masttest {

using wlctest::pump;
using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

// A root blob attribute holding the fields of a JSON object (as APs send them).
Bytes payload(const std::string &json);
// A payload's fields as compact JSON.
std::string fields_json(const Bytes &payload);

// A device with its bus daemon, on which mast runs to its end.
class MastRunTest : public wlctest::DeviceTest {
protected:
	// Runs mast with these options; returns its exit status, its log in *log.
	int run_mast(const std::vector<std::string> &args, std::string *log);
};

class ControllerTest : public wlctest::DeviceTest {
protected:
	void SetUp() override;
	void TearDown() override;

	// Replaces the broker with the site's own: the shipped configuration and
	// access lists, APs on tls_port by certificate of a new site CA, mast on
	// 1883 by the controller's password (start_mast passes it).
	void lock_down(int tls_port = 8883);
	// Starts mast -r wlc with extra options; waits for "mqtt.wlc" when asked.
	void start_mast(const std::vector<std::string> &extra = {}, bool wait_connected = true);
	// Waits until the broker has mast's subscriptions to these filters in
	// place, so that what the test publishes next reaches mast.
	void wait_subscribed(const std::vector<std::string> &filters);
	// Adds a stand-in object whose methods record their calls.
	void stand_in(const std::string &object, const std::vector<std::string> &methods);
	bool has_object(const std::string &path);
	std::string log_text() const;
	// A synchronous call through the bus, the loop running meanwhile.
	int call(const std::string &object, const std::string &method, const std::string &json, std::string *reply = nullptr,
		 std::chrono::milliseconds limit = 10s);

	std::unique_ptr<wlctest::SiteAuthority> site_ca_; // set by lock_down()
	std::unique_ptr<wlctest::Broker> broker_;
	std::unique_ptr<wlctest::Process> mast_;
	wlc::Bus client_; // this test's own bus connection
	std::vector<std::unique_ptr<wlc::BusObject>> objects_;
	std::vector<std::string> calls_; // "object.method json"
	std::string bin_dir_;
};

} // namespace masttest
