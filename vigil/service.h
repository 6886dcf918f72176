// The "vigil" bus object: the method table and the state the methods share.
#pragma once

#include <wlc/bus.h>

#include "cpu_sampler.h"
#include "options.h"
#include "scan.h"
#include "upload.h"

namespace vigil {

class Service {
public:
	Service(wlc::Bus &bus, WlanMap wlans);
	Service(const Service &) = delete;
	Service &operator=(const Service &) = delete;

	// Starts the sampler and registers the object; the bus status of the registration.
	[[nodiscard]] int start();
	void stop();

private:
	std::vector<wlc::Method> methods();

	wlc::Bus &bus_;
	WlanMap wlans_;
	CpuSampler cpu_;
	JobList jobs_;
	UploadList uploads_;
	wlc::BusObject object_;
};

} // namespace vigil
