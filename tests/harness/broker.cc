// Test broker and certificates.
#include "broker.h"

#include "site_authority.h"

#include <cctype>
#include <sstream>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace wlctest {

namespace {

void openssl(const std::vector<std::string> &args)
{
	std::vector<std::string> argv = {"/usr/bin/openssl"};
	argv.insert(argv.end(), args.begin(), args.end());
	RunResult r = run(argv, std::chrono::seconds(30));
	if (r.status != 0)
		throw std::runtime_error("openssl failed: " + r.err);
}

void make_signed(const TempRoot &root, const std::string &name, const std::string &cn,
		 const std::string &ext, const TestPki &pki)
{
	std::string key = root.at("/pki/" + name + ".key"), csr = root.at("/pki/" + name + ".csr");
	std::string crt = root.at("/pki/" + name + ".crt"), extfile = root.at("/pki/" + name + ".ext");
	write_text(extfile, ext);
	openssl({"req", "-new", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", csr, "-subj", "/CN=" + cn});
	openssl({"x509", "-req", "-in", csr, "-CA", pki.ca_cert, "-CAkey", root.at("/pki/ca.key"),
		 "-CAcreateserial", "-out", crt, "-days", "2", "-extfile", extfile});
}

} // namespace

TestPki make_test_pki(const TempRoot &root)
{
	TestPki pki;
	pki.ca_cert = root.at("/pki/ca.crt");
	openssl({"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", root.at("/pki/ca.key"), "-out",
		 pki.ca_cert, "-days", "2", "-subj", "/CN=wlc-test-ca"});
	make_signed(root, "server", "localhost", "subjectAltName=DNS:localhost,IP:127.0.0.1\n", pki);
	make_signed(root, "client", "wlc-test-client", "extendedKeyUsage=clientAuth\n", pki);
	pki.server_cert = root.at("/pki/server.crt");
	pki.server_key = root.at("/pki/server.key");
	pki.client_cert = root.at("/pki/client.crt");
	pki.client_key = root.at("/pki/client.key");
	return pki;
}

int free_port()
{
	int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in addr = {};
	addr.sin_family = AF_INET;
	addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	bind(s, reinterpret_cast<sockaddr *>(&addr), sizeof(addr));
	socklen_t len = sizeof(addr);
	getsockname(s, reinterpret_cast<sockaddr *>(&addr), &len);
	close(s);
	return ntohs(addr.sin_port);
}

int connect_loopback(int port)
{
	int s = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	sockaddr_in addr = {};
	addr.sin_family = AF_INET;
	addr.sin_port = htons(static_cast<uint16_t>(port));
	addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	if (s >= 0 && connect(s, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) == 0)
		return s;
	if (s >= 0)
		close(s);
	return -1;
}

bool port_open(int port)
{
	int s = connect_loopback(port);
	if (s >= 0)
		close(s);
	return s >= 0;
}

namespace {

// The configuration the site's broker runs with, written by the product's tool.
std::string site_config(const SiteAuthority &site, const BrokerOptions &opts, const std::string &log)
{
	RunResult r = run({"/bin/sh", SiteAuthority::config_writer(), "--ca", site.ca_cert(), "--cert", site.broker_cert(),
			   "--key", site.broker_key(), "--passwd", site.password_file(), "--acl-dir",
			   SiteAuthority::acl_dir(), "--ap-port", std::to_string(opts.tls_port), "--ap-address",
			   "127.0.0.1", "--local-port", std::to_string(opts.port), "--log-file", log, "--user", "root"});
	if (r.status != 0)
		throw std::runtime_error("broker configuration: " + r.err);
	return r.out;
}

std::string test_config(const BrokerOptions &opts, const std::string &log)
{
	std::string conf = "user root\nper_listener_settings true\npersistence false\nlog_dest file " + log +
			   "\nlog_type all\n";
	conf += "listener " + std::to_string(opts.port) + " 127.0.0.1\nallow_anonymous " +
		(opts.anonymous ? "true" : "false") + "\n";
	if (opts.tls_port) {
		if (!opts.pki)
			throw std::runtime_error("a TLS listener needs certificates");
		conf += "listener " + std::to_string(opts.tls_port) + " 127.0.0.1\nallow_anonymous true\n";
		conf += "cafile " + opts.pki->ca_cert + "\ncertfile " + opts.pki->server_cert + "\nkeyfile " +
			opts.pki->server_key + "\n";
		conf += std::string("require_certificate ") + (opts.require_client_cert ? "true" : "false") + "\n";
	}
	return conf;
}

} // namespace

Broker::Broker(const TempRoot &root, const BrokerOptions &opts) : opts_(opts), log_(root.at("/broker/broker.log"))
{
	if (opts.site && !opts.tls_port)
		throw std::runtime_error("the site's broker needs the APs' port");
	std::string path = root.at("/broker/mosquitto.conf");
	write_text(path, opts.site ? site_config(*opts.site, opts, log_) : test_config(opts, log_));
	proc_ = std::make_unique<Process>(std::vector<std::string>{"/usr/sbin/mosquitto", "-c", path});
	bool up = wait_until([&] {
		return port_open(opts.port) && (!opts.tls_port || port_open(opts.tls_port));
	}, kStartLimit);
	if (!up)
		throw std::runtime_error("broker did not start:\n" + read_text(log_));
}

std::string Broker::log_text() const
{
	return read_text(log_);
}

int Broker::subscriptions(const std::string &client_id, const std::string &filter) const
{
	// Each subscription put in place is logged as "<time>: <client> <qos> <filter>".
	std::istringstream log(read_text(log_));
	int count = 0;
	for (std::string line; std::getline(log, line);) {
		size_t at = line.find(": ");
		if (at == std::string::npos)
			continue;
		std::string rest = line.substr(at + 2);
		if (rest.size() == client_id.size() + 3 + filter.size() && rest.starts_with(client_id + " ") &&
		    std::isdigit(static_cast<unsigned char>(rest[client_id.size() + 1])) &&
		    rest.ends_with(" " + filter))
			count++;
	}
	return count;
}

} // namespace wlctest
