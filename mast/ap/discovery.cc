// The controller search cycle.
#include "discovery.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>

#include <fstream>

#include "../core/platform_command.h"
#include "identity.h"

namespace mast {

namespace {

constexpr int kBrowseDelayMs = 3000;
constexpr int kBrowseWaitMs = 2000;
constexpr int kProbeTimeMs = 30000;
constexpr int kRetryDelayMs = 5000;
constexpr int kProbeKeepalive = 10;
constexpr uint32_t kDnsTypePtr = 12;

} // namespace

int route_check(const std::string &address)
{
	// The address comes from anyone on the LAN: only a well-formed IPv4
	// address is handed on, as one argument, and no shell ever sees it.
	if (!is_ipv4_address(address))
		return -1;
	return run_platform_command({"ip", "route", "get", address}, true);
}

Discovery::Discovery(wlc::Bus &bus, const std::vector<BrokerAddress> &brokers, std::string client_id,
		     TlsSettings tls, Callbacks callbacks)
	: bus_(bus), client_id_(std::move(client_id)), tls_(std::move(tls)), callbacks_(std::move(callbacks)),
	  step_timer_([this] {
		  auto step = std::move(next_step_);
		  next_step_ = nullptr;
		  if (step)
			  step();
	  })
{
	for (const BrokerAddress &b : brokers)
		(void)candidates_.add(b.host, b.port);
}

Discovery::~Discovery()
{
	umdns_.abort();
	step_timer_.cancel();
	destroy_probes(true);
	wlc::logf(LOG_NOTICE, "DISCOVER: finish");
}

void Discovery::next(std::function<void()> step, int delay_ms)
{
	next_step_ = std::move(step);
	step_timer_.set(delay_ms);
}

// Without a working umdns only the mDNS steps are skipped: the -h and DHCP
// candidates are still probed.
void Discovery::step_start()
{
	wlc::logf(LOG_NOTICE, "DISCOVER: start");
	uint32_t id = bus_.lookup("umdns");
	if (!id) {
		next([this] { step_dhcp(); }, 0);
		return;
	}
	wlc::logf(LOG_INFO, "DISCOVER: run mDNS discovery");
	umdns_.abort();
	wlc::BlobBuf query;
	query.add("interface", "br-con");
	query.add_u32("type", kDnsTypePtr);
	if (bus_.call_async(id, "query", query, umdns_, nullptr, [this](int status) { query_done(status); }) != 0) {
		next([this] { step_dhcp(); }, 0);
		return;
	}
	next([this] { step_browse(); }, kBrowseDelayMs);
}

void Discovery::query_done(int status)
{
	if (status == 0)
		return;
	wlc::logf(LOG_DEBUG, "DISCOVER: request to umdns failed, restart it");
	(void)run_platform_command({"/etc/init.d/umdns", "restart"});
}

void Discovery::step_browse()
{
	wlc::logf(LOG_DEBUG, "DISCOVER: browse mDNS discovery results");
	uint32_t id = bus_.lookup("umdns");
	umdns_.abort();
	browse_answered_ = false;
	if (!id || bus_.call_async(id, "browse", wlc::BlobBuf(), umdns_,
				   [this](blob_attr *reply) { step_parse(reply); }, nullptr) != 0) {
		next([this] { step_dhcp(); }, 0);
		return;
	}
	// A browse that never answers is given up; the other sources still count.
	next([this] {
		umdns_.abort();
		step_dhcp();
	}, kBrowseWaitMs);
}

void Discovery::step_parse(blob_attr *reply)
{
	if (browse_answered_)
		return;
	browse_answered_ = true;
	wlc::logf(LOG_DEBUG, "DISCOVER: parse mDNS discovery results");
	wlc::Fields<1> f;
	f.parse({{{"_wlc._tcp", BLOBMSG_TYPE_TABLE}}}, reply);
	int found = 0;
	if (f.has(0)) {
		blob_attr *instance;
		size_t rem;
		blobmsg_for_each_attr(instance, f[0], rem)
			if (blobmsg_type(instance) == BLOBMSG_TYPE_TABLE)
				add_mdns_instance(instance, found);
	}
	wlc::logf(LOG_INFO, "Found %d new wireless controllers via mDNS discovery", found);
	next([this] { step_dhcp(); }, 0);
}

void Discovery::add_mdns_instance(blob_attr *instance, int &found)
{
	std::optional<uint32_t> port;
	blob_attr *field;
	size_t rem;
	blobmsg_for_each_attr(field, instance, rem) {
		if (!port && blobmsg_type(field) == BLOBMSG_TYPE_INT32 && std::string_view(blobmsg_name(field)) == "port")
			port = blobmsg_get_u32(field);
	}
	auto p = static_cast<int32_t>(port.value_or(0));
	if (p <= 0 || p > 65535)
		return;
	blobmsg_for_each_attr(field, instance, rem) {
		if (blobmsg_type(field) != BLOBMSG_TYPE_STRING || std::string_view(blobmsg_name(field)) != "ipv4")
			continue;
		std::string addr = blobmsg_get_string(field);
		if (route_check(addr) != 0) {
			wlc::logf(LOG_NOTICE, "DISCOVER: skip endpoint %s - no route to host", addr.c_str());
			continue;
		}
		auto [cand, added] = candidates_.add(addr, p);
		if (cand && added) {
			wlc::logf(LOG_DEBUG, "DISCOVER: found new WLC %s:%d via mDNS discovery", cand->host.c_str(), p);
			found++;
		}
	}
}

// Whole lines are read, however long: a token is never cut at a buffer edge.
void Discovery::step_dhcp()
{
	std::ifstream in(wlc::root_path("/tmp/wlc_addr_dhcp"));
	if (!in) {
		wlc::logf(LOG_INFO, "DISCOVER: not found DHCP option");
	} else {
		int count = 0;
		std::string line;
		while (std::getline(in, line)) {
			for (const std::string &token : split_address_tokens(line)) {
				count++;
				std::optional<BrokerAddress> addr = parse_host_port(token);
				auto [cand, added] = addr ? candidates_.add(addr->host, addr->port)
							  : std::pair<Candidate *, bool>{nullptr, false};
				if (!cand)
					wlc::logf(LOG_WARNING, "DISCOVER: bad WLC address '%s' in DHCP option", token.c_str());
				else if (added)
					wlc::logf(LOG_DEBUG, "DISCOVER: found new WLC %s:%d via DHCP option",
						  cand->host.c_str(), cand->port);
			}
		}
		wlc::logf(LOG_INFO, "DISCOVER: found %d wireless controllers via DHCP option", count);
	}
	if (candidates_.empty())
		next([this] { step_retry(); }, 0);
	else
		next([this] { step_probe(); }, 0);
}

void Discovery::step_probe()
{
	for (Candidate &c : candidates_.items()) {
		MqttConfig cfg;
		cfg.name = "discover0";
		cfg.client_id = client_id_;
		cfg.host = c.host;
		cfg.port = c.port;
		cfg.keepalive = kProbeKeepalive;
		c.probe = MqttInstance::create(cfg, tls_, bus_);
		c.announced = false;
		if (!c.probe)
			continue;
		Candidate *cand = &c;
		c.probe->on_connect([this, cand] {
			wlc::logf(LOG_DEBUG, "DISCOVER: connected to %s:%d", cand->host.c_str(), cand->port);
			if (callbacks_.probe_connected)
				callbacks_.probe_connected(*cand);
		});
		wlc::logf(LOG_DEBUG, "DISCOVER: connecting to %s:%d", c.host.c_str(), c.port);
	}
	if (callbacks_.probes_started)
		callbacks_.probes_started(candidates_);
	next([this] { step_retry(); }, kProbeTimeMs);
}

void Discovery::step_retry()
{
	wlc::logf(LOG_NOTICE, "DISCOVER: retry");
	// The AP is still searching: what it announced stays true until the
	// next cycle announces it again, and nothing here waits on a broker.
	destroy_probes(false);
	next([this] { step_start(); }, kRetryDelayMs);
}

} // namespace mast

namespace mast {

// When the search ends, a probe that announced the AP online to a controller
// that was not chosen takes it back before going: with a clean disconnect
// its will is dropped. Between cycles the announcement stands.
void Discovery::destroy_probes(bool farewell)
{
	for (Candidate &c : candidates_.items()) {
		if (farewell && c.probe && c.announced && c.probe->connected()) {
			wlc::BlobBuf offline;
			build_online(offline, false);
			(void)c.probe->publish_flushed(online_topic(), offline.head(), blob_raw_len(offline.head()), 2, true,
						       std::chrono::milliseconds(1000));
		}
		c.probe.reset();
		c.announced = false;
	}
}

} // namespace mast
