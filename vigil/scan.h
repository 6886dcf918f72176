// "radio_scan" and the list of running scan jobs (at most one per radio).
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>

#include <list>
#include <memory>
#include <optional>

#include "scan_job.h"

namespace vigil {

class JobList {
public:
	JobList() : reaper_([this] { reap(); }) {}

	bool busy(uint8_t radio) const;
	void add(std::unique_ptr<ScanJob> job) { jobs_.push_back(std::move(job)); }
	// A job that has answered is freed from the loop, outside its own callbacks.
	void release_later() { reaper_.set(0); }

private:
	void reap();

	std::list<std::unique_ptr<ScanJob>> jobs_;
	wlc::Timer reaper_;
};

// The channels of a "ch_list" argument: its int32 elements (at most 32);
// nullopt when there is none or one lies outside 1-255.
[[nodiscard]] std::optional<std::vector<int>> channel_list(blob_attr *list);

int radio_scan_method(JobList &jobs, wlc::Request &req, blob_attr *msg);

} // namespace vigil
