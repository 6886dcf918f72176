// An adopted AP on a simulated device, for tests of the daemons that talk to
// the controller through the AP side of mast: the state a join leaves behind
// (the broker's certificate pinned, the AP's own client certificate), the
// recording stand-ins for the platform commands, the device's bus daemon and
// the real `mast -a`, connecting to the broker's TLS listener.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "broker.h"
#include "harness.h"
#include "mqtt_client.h"
#include "sim_site.h"
#include "site_authority.h"

namespace masttest {

// The revision the simulator's devices run unless told otherwise.
inline constexpr const char *kSimRevision = "r12345-abcdef";

class AdoptedAp {
public:
	// Lays out the device's adopted state and starts its bus daemon; mast's
	// options follow "-a -h 127.0.0.1:<tls port>".
	AdoptedAp(const wlctest::SimSite &site, const std::string &name, const wlctest::TestPki &pki,
		  std::vector<std::string> mast_args, int tls_port = 8883);
	~AdoptedAp();
	AdoptedAp(const AdoptedAp &) = delete;
	AdoptedAp &operator=(const AdoptedAp &) = delete;

	// Enrols the AP in the site: its client certificate from the site CA
	// (common name: its device identifier) and the site broker's
	// certificate as the one its join pinned.
	void enrol(const wlctest::SiteAuthority &site, const std::string &id);
	// Starts mast (log in <root>/mast.log); does not wait.
	void start_mast();
	// Stops mast with SIGTERM; its exit status.
	int stop_mast();
	const std::string &root() const { return root_; }
	std::string socket() const { return root_ + "/var/run/ubus/ubus.sock"; }
	std::string mast_log() const { return wlctest::read_text(root_ + "/mast.log"); }

private:
	std::string root_;
	std::vector<std::string> mast_args_;
	std::unique_ptr<wlctest::Process> bus_daemon_;
	std::unique_ptr<wlctest::Process> mast_;
};

// Publishes the retained VERSION that the controller's services keep on the
// broker (plain listener): with the APs' own revision, it adopts them.
void publish_version(int port = 1883, const std::string &revision = kSimRevision);
// The same as the controller's client of a site broker.
void publish_version(const wlctest::ClientAuth &controller, int port = 1883,
		     const std::string &revision = kSimRevision);

// Waits until the broker has put the client's subscription to filter in
// place more than `before` times (its log counts every time).
bool wait_subscribed(const wlctest::Broker &broker, const std::string &client_id, const std::string &filter,
		     int before = 0);

} // namespace masttest
