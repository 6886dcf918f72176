// rrm_agent: the RRM agent of one radio of an access point.
#include <wlc/bus.h>
#include <wlc/log.h>
#include <zev/devinfo.h>

#include <memory>

#include "agent.h"

int main(int argc, char **argv)
{
	wlc::log_open("rrm_agent");
	wlc::logf(LOG_DEBUG, "Reading config...");
	std::optional<rrm::Config> cfg = rrm::parse_agent_config(rrm::arguments(argc, argv));
	if (!cfg) {
		wlc::logf(LOG_DEBUG, "Bad config!");
		wlc::log_close();
		return 255;
	}
	wlc::log_prefix(rrm::log_prefix(*cfg).c_str());
	uloop_init();
	{
		wlc::Bus bus;
		const char *id = zev_devinfo_id();
		std::unique_ptr<rrm::Agent> agent;
		if (!bus.connect()) {
			wlc::logf(LOG_ERR, "failed to connect to ubus!");
		} else {
			agent = std::make_unique<rrm::Agent>(*cfg, bus, id ? id : "");
		}
		if (!agent) {
			wlc::logf(LOG_ERR, "Failed to allocate scan context!");
		} else if (agent->start() != 0) {
			wlc::logf(LOG_ERR, "Failed to add ubus object");
		} else {
			bus.watch();
			wlc::logf(LOG_INFO, "Running RRM agent daemon");
			uloop_run();
		}
		agent.reset();
		bus.close();
	}
	uloop_done();
	wlc::logf(LOG_INFO, "Stop RRM agent daemon");
	wlc::log_close();
	return 255;
}
