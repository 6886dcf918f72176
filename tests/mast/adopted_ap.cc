// The adopted AP of a simulated device.
#include "adopted_ap.h"

#include <wlc/blob.h>

#include <csignal>
#include <stdexcept>
#include <unistd.h>

#include "mqtt_client.h"

namespace masttest {

using namespace std::chrono_literals;

AdoptedAp::AdoptedAp(const wlctest::SimSite &site, const std::string &name, const wlctest::TestPki &pki,
		     std::vector<std::string> mast_args, int tls_port)
	: root_(site.root_of(name))
{
	mast_args_ = {"-a", "-h", "127.0.0.1:" + std::to_string(tls_port)};
	mast_args_.insert(mast_args_.end(), mast_args.begin(), mast_args.end());
	// What a join leaves: the broker's certificate, the trust anchor of every
	// later connection; the AP's client certificate comes from the factory.
	wlctest::write_text(root_ + "/etc/wlc/mqtt_ca.crt", wlctest::read_text(pki.server_cert));
	wlctest::write_text(root_ + "/data/ssl/mqtt.crt", wlctest::read_text(pki.client_cert));
	wlctest::write_text(root_ + "/data/ssl/mqtt.key", wlctest::read_text(pki.client_key));
	wlctest::RunResult r = wlctest::run({"/bin/sh", std::string(WLC_SOURCE_DIR) + "/sim/tools/platform-stubs.sh", root_});
	if (r.status != 0)
		throw std::runtime_error("platform stubs: " + r.err);
	wlctest::write_text(root_ + "/var/run/ubus/.keep", "");
	bus_daemon_ = std::make_unique<wlctest::Process>(std::vector<std::string>{WLC_UBUSD, "-s", socket()});
	if (!wlctest::wait_until([&] { return access(socket().c_str(), F_OK) == 0; }, wlctest::kStartLimit))
		throw std::runtime_error("bus daemon of " + name + " did not start");
}

AdoptedAp::~AdoptedAp()
{
	mast_.reset();
	bus_daemon_.reset();
}

void AdoptedAp::enrol(const wlctest::SiteAuthority &site, const std::string &id)
{
	site.issue_ap(id, root_ + "/data/ssl");
	wlctest::write_text(root_ + "/etc/wlc/mqtt_ca.crt", wlctest::read_text(site.broker_cert()));
}

void AdoptedAp::start_mast()
{
	std::vector<std::string> argv = {std::string(WLC_BUILD_DIR) + "/mast/mast"};
	argv.insert(argv.end(), mast_args_.begin(), mast_args_.end());
	// The AP's PATH holds only its own root's program directories.
	std::string path = root_ + "/usr/sbin:" + root_ + "/usr/bin:" + root_ + "/sbin:" + root_ + "/bin";
	mast_ = std::make_unique<wlctest::Process>(
		argv, std::vector<std::string>{"WLC_ROOT=" + root_, "WLC_LOG_FILE=" + root_ + "/mast.log", "PATH=" + path});
}

int AdoptedAp::stop_mast()
{
	if (!mast_)
		return -1;
	mast_->kill(SIGTERM);
	int status = mast_->wait(wlctest::kStartLimit);
	mast_.reset();
	return status;
}

void publish_version(int port, const std::string &revision)
{
	publish_version(wlctest::ClientAuth{}, port, revision);
}

void publish_version(const wlctest::ClientAuth &controller, int port, const std::string &revision)
{
	wlctest::MqttClient services("services-version", port, controller);
	wlc::BlobBuf version;
	version.add("version", "1.0.0").add("revision", revision);
	auto *p = reinterpret_cast<const uint8_t *>(version.head());
	if (!services.publish("zev/wlc/firmware/version", std::vector<uint8_t>(p, p + blob_raw_len(version.head())), 1,
			      true))
		throw std::runtime_error("VERSION not published");
	// Kept on the broker once it hands it back.
	wlctest::MqttMessage m;
	if (!services.subscribe("zev/wlc/firmware/version") || !services.next(m, wlctest::kStartLimit))
		throw std::runtime_error("VERSION not kept by the broker");
}

bool wait_subscribed(const wlctest::Broker &broker, const std::string &client_id, const std::string &filter, int before)
{
	return wlctest::wait_until([&] { return broker.subscriptions(client_id, filter) > before; }, wlctest::kStartLimit);
}

} // namespace masttest
