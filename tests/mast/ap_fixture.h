// An AP under test beside a controller under test, both in this test's own
// network namespace: the real broker (plain listener for the controller, TLS
// listener with client certificates required for APs), mast -r wlc with
// recording stand-ins for the controller's services, and the AP as a
// simulated device with its own root, bus daemon, recording stand-ins for
// the platform commands and mast -r ap.
#pragma once

#include "controller_fixture.h"
#include "sim_site.h"

namespace masttest {

struct ApBroker {
	bool self_signed = false; // the broker's certificate signs itself, instead of being issued by the CA
};

class ApTest : public ControllerTest {
protected:
	void SetUp() override;
	void TearDown() override;

	// Restarts the broker (TLS port 8883) with a CA-issued or a self-signed certificate.
	void start_broker(ApBroker kind = {});
	// Starts mast on the AP with these options (no -r: the AP role).
	void start_ap(const std::vector<std::string> &args);
	// A platform service stand-in on the AP's bus (program under sim/).
	void start_ap_service(const std::string &program, const std::vector<std::string> &args);
	std::string ap_path(const std::string &abs) const { return ap_root_ + abs; }
	std::string ap_log() const { return wlctest::read_text(ap_path("/mast.log")); }
	std::string stubs_log() const { return wlctest::read_text(ap_path("/stubs.log")); }
	bool ap_logged(const std::string &line) const { return ap_log().find(line) != std::string::npos; }
	// The AP's "mast" status field.
	std::string ap_status();
	int ap_call(const std::string &object, const std::string &method, const std::string &json,
		    std::string *reply = nullptr);
	// Plays the controller services: answers the AP's next join request.
	void answer_join(wlctest::MqttClient &services);
	// Joins the AP to the controller and waits until its agent is connected
	// (answering as services, or as a client of its own).
	void join();
	void join(wlctest::MqttClient &services);
	// Joins, then publishes a retained VERSION with this revision.
	void adopt(wlctest::MqttClient &services, const std::string &revision = "R42-ABC");
	std::string server_cert_path() const;

	std::string ap_id_; // learnt from the AP's join request
	wlctest::TestPki pki_;
	std::string self_signed_cert_, self_signed_key_;
	bool self_signed_ = false;
	std::unique_ptr<wlctest::SimSite> site_;
	std::string ap_root_;
	std::unique_ptr<wlctest::Process> ap_bus_daemon_;
	std::vector<std::unique_ptr<wlctest::Process>> ap_services_;
	std::unique_ptr<wlctest::Process> ap_mast_;
	wlc::Bus ap_bus_;
};

} // namespace masttest
