// The AP roles.
#include "ap_role.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>
#include <zev/devinfo.h>

#include <openssl/pem.h>

#include <algorithm>

#include "../core/state_file.h"
#include "../led/indicator.h"
#include "identity.h"

namespace mast {

namespace {

constexpr Colour kYellow = {255, 255, 0};

TlsSettings join_tls()
{
	TlsSettings tls;
	tls.capath = wlc::root_path("/etc/wlc/trusted");
	tls.certfile = wlc::root_path("/data/ssl/mqtt.crt");
	tls.keyfile = wlc::root_path("/data/ssl/mqtt.key");
	tls.tls_insecure = true;
	tls.verify_peer = false;
	return tls;
}

// The certificate in PEM; empty when it cannot be written.
std::string to_pem(X509 *cert)
{
	BIO *bio = BIO_new(BIO_s_mem());
	if (!bio)
		return {};
	std::string pem;
	if (PEM_write_bio_X509(bio, cert) == 1) {
		char *data = nullptr;
		long n = BIO_get_mem_data(bio, &data);
		if (n > 0 && data)
			pem.assign(data, static_cast<size_t>(n));
	}
	BIO_free(bio);
	return pem;
}

std::string address_text(const std::string &host, int32_t port)
{
	return port > 0 ? host + ":" + std::to_string(port) : host;
}

} // namespace

ApRole::ApRole(const Options &opts, wlc::Bus &bus, Status &status)
	: opts_(opts), bus_(bus), status_(status), brokers_(opts.brokers), defer_timer_([this] {
		  auto work = std::move(deferred_);
		  deferred_ = nullptr;
		  if (work)
			  work();
	  })
{
}

ApRole::~ApRole()
{
	stop();
}

int ApRole::start()
{
	return opts_.adopted ? start_adopted() : start_unadopted();
}

void ApRole::stop()
{
	defer_timer_.cancel();
	deferred_ = nullptr;
	search_.reset();
	agent_.reset();
}

// Work that destroys the probe (or agent) whose callback is running waits
// for the next turn of the loop.
void ApRole::later(std::function<void()> work)
{
	deferred_ = std::move(work);
	defer_timer_.set(0);
}

void ApRole::set_probe_wills(CandidateList &candidates)
{
	wlc::BlobBuf will;
	build_online(will, false);
	for (Candidate &c : candidates.items())
		if (c.probe)
			(void)c.probe->set_will(online_topic(), will.head(), blob_raw_len(will.head()), 2, true);
}

int ApRole::start_unadopted()
{
	status_.set("discover", "DISCOVER");
	LedIndicator::instance().set_const(kYellow);
	joined_ = false;
	Discovery::Callbacks cb;
	cb.probes_started = [this](CandidateList &c) { join_probes_started(c); };
	cb.probe_connected = [this](Candidate &c) { join_probe_connected(c); };
	search_ = std::make_unique<Discovery>(bus_, brokers_, zev_devinfo_id(), join_tls(), std::move(cb));
	search_->start();
	return 0;
}

void ApRole::join_probes_started(CandidateList &candidates)
{
	set_probe_wills(candidates);
	status_.set("join_req", "Send JOIN_REQ to %s", candidates.addresses());
}

void ApRole::join_probe_connected(Candidate &candidate)
{
	Candidate *cand = &candidate;
	std::string topic = std::string("zev/wlc/control/ap/") + zev_devinfo_id() + "/join_response";
	(void)candidate.probe->subscribe(topic, 2, [this, cand](const TopicLevels &, const void *, size_t) {
		join_response(*cand);
	});
	wlc::logf(LOG_INFO, "Send JOIN_REQ to %s:%d", candidate.host.c_str(), candidate.port);
	wlc::BlobBuf msg;
	build_join_request(msg);
	(void)candidate.probe->publish(std::string("zev/wlc/control/ap/") + zev_devinfo_id() + "/join_request",
				       msg.head(), blob_raw_len(msg.head()), 2, false);
	build_online(msg, true);
	(void)candidate.probe->publish(online_topic(), msg.head(), blob_raw_len(msg.head()), 2, true);
	candidate.announced = true;
}

// The first JOIN_RESP of a search is acted on; any other (a second
// controller, or the same one twice in one turn of the loop) is dropped.
void ApRole::join_response(Candidate &candidate)
{
	if (joined_)
		return;
	wlc::logf(LOG_NOTICE, "Receive JOIN_RESP from %s:%d", candidate.host.c_str(), candidate.port);
	X509Ptr cert = candidate.probe->peer_certificate();
	std::string pem = cert ? to_pem(cert.get()) : std::string();
	if (pem.empty() ||
	    !replace_file("/etc/wlc/mqtt_ca.crt", pem, [] { wlc::logf(LOG_NOTICE, "Save WLC certificate"); })) {
		wlc::logf(LOG_WARNING, "Failed to write WLC certificate, retry");
		return;
	}
	if (candidate.port > 0)
		wlc::logf(LOG_NOTICE, "Save %s:%d as WLC address", candidate.host.c_str(), candidate.port);
	else
		wlc::logf(LOG_NOTICE, "Save %s as WLC address", candidate.host.c_str());
	if (!replace_file("/etc/wlc/wlc_addr", address_text(candidate.host, candidate.port))) {
		wlc::logf(LOG_WARNING, "Failed to write WLC address, retry");
		return;
	}
	if (!start_agent(candidate.host, candidate.port)) {
		wlc::logf(LOG_WARNING, "Failed to init agent, retry");
		return;
	}
	joined_ = true;
	(void)replace_file("/etc/wlc/wizard_skip", "1");
	// The chosen controller hears ONLINE from the agent next; only the
	// others are told that the AP went away.
	candidate.announced = false;
	later([this] { search_.reset(); });
}

bool ApRole::start_agent(const std::string &host, int32_t port)
{
	agent_ = std::make_unique<Agent>(opts_, bus_, status_, [this] {
		later([this] {
			agent_.reset();
			(void)start_adopted();
		});
	});
	if (agent_->start(host, port) != 0) {
		agent_.reset();
		return false;
	}
	return true;
}

int ApRole::start_adopted()
{
	status_.set("discover", "DISCOVER");
	wlc::logf(LOG_NOTICE, "Start adopted agent discovery");
	LedIndicator::instance().set_const(kYellow);
	Discovery::Callbacks cb;
	cb.probes_started = [this](CandidateList &c) {
		set_probe_wills(c);
		status_.set("connect", "Connecting to %s", c.addresses());
	};
	cb.probe_connected = [this](Candidate &c) { adopted_probe_connected(c); };
	search_ = std::make_unique<Discovery>(bus_, brokers_, zev_devinfo_id(), pinned_tls(), std::move(cb));
	search_->start();
	return 0;
}

// The controller that answered goes to the front of the broker list.
void ApRole::adopted_probe_connected(Candidate &candidate)
{
	if (deferred_)
		return;
	remember_broker(brokers_, BrokerAddress{candidate.host, candidate.port});
	later([this] {
		search_.reset();
		const BrokerAddress &first = brokers_.front();
		if (!start_agent(first.host, first.port)) {
			wlc::logf(LOG_ERR, "Failed to init agent");
			(void)start_adopted();
		}
	});
}

} // namespace mast
