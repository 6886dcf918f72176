// The method table of "vigil".
#include "service.h"

#include "health.h"
#include "version.h"

namespace vigil {

Service::Service(wlc::Bus &bus, WlanMap wlans)
	: bus_(bus), wlans_(std::move(wlans)), object_("vigil", methods())
{
}

std::vector<wlc::Method> Service::methods()
{
	// Methods without arguments ignore whatever message comes with the call.
	return {
		{"health", {}, [this](wlc::Request &req, blob_attr *) { return health_method(cpu_, req); }},
		{"version", {}, [this](wlc::Request &req, blob_attr *) { return version_method(bus_, req); }},
		{"boot_slot", {}, [](wlc::Request &req, blob_attr *) { return boot_slot_method(req); }},
	};
}

int Service::start()
{
	cpu_.start();
	return object_.add(bus_);
}

void Service::stop()
{
	object_.remove();
}

} // namespace vigil
