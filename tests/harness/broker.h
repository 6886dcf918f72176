// A real MQTT broker (mosquitto) for a test, plain and optionally with a TLS
// listener whose certificates the test makes with the openssl tool.
#pragma once

#include <memory>
#include <string>

#include "harness.h"

namespace wlctest {

// A certificate authority and a server certificate for 127.0.0.1/localhost.
struct TestPki {
	std::string ca_cert;
	std::string server_cert;
	std::string server_key;
	std::string client_cert; // signed by the same authority
	std::string client_key;
};
TestPki make_test_pki(const TempRoot &root);

class SiteAuthority;

struct BrokerOptions {
	int port = 1883;    // plain listener on 127.0.0.1
	int tls_port = 0;   // TLS listener on 127.0.0.1 when non-zero
	const TestPki *pki = nullptr;
	bool require_client_cert = false;
	bool anonymous = true; // false: every plain connection is refused (no password file)
	// The site's own configuration instead: the controller's listener on
	// port, by password; the APs' on tls_port, by certificate of this
	// authority; the shipped access lists (pki and the flags above unused).
	const SiteAuthority *site = nullptr;
};

class Broker {
public:
	Broker(const TempRoot &root, const BrokerOptions &opts);
	Process &process() { return *proc_; }
	const BrokerOptions &options() const { return opts_; }
	// How many times the broker has put a client's subscription to a filter in
	// place (its log says so as it does): the sign that messages published from
	// now on reach that client.
	int subscriptions(const std::string &client_id, const std::string &filter) const;
	// What the broker logged (every broker started on this root appends to it).
	std::string log_text() const;

private:
	BrokerOptions opts_;
	std::string log_;
	std::unique_ptr<Process> proc_;
};

// A loopback port that was free a moment ago.
int free_port();

// A TCP connection to 127.0.0.1:port, or -1.
int connect_loopback(int port);

// True when something accepts TCP connections on 127.0.0.1:port.
bool port_open(int port);

} // namespace wlctest
