// The AP roles: an unadopted AP searches for controllers, asks each to let
// it join and becomes an adopted agent on the first answer; an adopted AP
// searches only for the controller whose certificate it saved and runs the
// agent there. An agent that loses its controller for too long starts an
// adopted search again.
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>

#include <functional>
#include <memory>
#include <vector>

#include "../core/options.h"
#include "../core/status.h"
#include "agent.h"
#include "discovery.h"

namespace mast {

class ApRole {
public:
	ApRole(const Options &opts, wlc::Bus &bus, Status &status);
	~ApRole();
	ApRole(const ApRole &) = delete;
	ApRole &operator=(const ApRole &) = delete;

	// 0, or the failure of the search start.
	int start();
	// Stops the agent (announcing the AP offline) and any search.
	void stop();

	Agent *agent() { return agent_.get(); }
	const std::vector<BrokerAddress> &brokers() const { return brokers_; }

private:
	int start_unadopted();
	int start_adopted();
	void join_probes_started(CandidateList &candidates);
	void join_probe_connected(Candidate &candidate);
	void join_response(Candidate &candidate);
	void adopted_probe_connected(Candidate &candidate);
	void set_probe_wills(CandidateList &candidates);
	void later(std::function<void()> work);
	bool start_agent(const std::string &host, int32_t port);

	const Options &opts_;
	wlc::Bus &bus_;
	Status &status_;
	std::vector<BrokerAddress> brokers_; // the -h list, known controllers moved to the front
	std::unique_ptr<Discovery> search_;
	std::unique_ptr<Agent> agent_;
	bool joined_ = false; // a JOIN_RESP was acted on in this search
	std::function<void()> deferred_;
	wlc::Timer defer_timer_;
};

} // namespace mast
