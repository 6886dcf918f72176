// The controller search of an AP: a cycle that gathers candidate addresses
// (the -h list, mDNS through the platform's "umdns" service, the DHCP client's
// file) and opens a probe connection to every candidate at once.
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>

#include <functional>
#include <string>
#include <vector>

#include "candidates.h"

namespace mast {

class Discovery {
public:
	struct Callbacks {
		// Once per cycle, after every probe was created.
		std::function<void(CandidateList &)> probes_started;
		// A probe's broker connection is up (each connection).
		std::function<void(Candidate &)> probe_connected;
	};

	// Adds the brokers as candidates; the first step runs at start().
	Discovery(wlc::Bus &bus, const std::vector<BrokerAddress> &brokers, std::string client_id, TlsSettings tls,
		  Callbacks callbacks);
	// Stops the search: aborts the umdns request, destroys every probe.
	~Discovery();
	Discovery(const Discovery &) = delete;
	Discovery &operator=(const Discovery &) = delete;

	void start() { step_start(); }
	CandidateList &candidates() { return candidates_; }

private:
	void next(std::function<void()> step, int delay_ms);
	void step_start();
	void step_browse();
	void step_parse(blob_attr *reply);
	void step_dhcp();
	void step_probe();
	void step_retry();
	void add_mdns_instance(blob_attr *instance, int &found);
	void query_done(int status);
	void destroy_probes(bool farewell);

	wlc::Bus &bus_;
	std::string client_id_;
	TlsSettings tls_;
	Callbacks callbacks_;
	CandidateList candidates_;
	wlc::AsyncCall umdns_;
	std::function<void()> next_step_;
	wlc::Timer step_timer_;
	bool browse_answered_ = false;
};

// 0 when the kernel has a route to the IPv4 address ("ip route get", no shell).
int route_check(const std::string &address);

} // namespace mast
