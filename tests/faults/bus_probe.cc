// Bus helpers of the fault tests.
#include "bus_probe.h"

#include <algorithm>

namespace faulttest {

Answer ask(wlc::Bus &bus, const std::string &object, const std::string &method, const std::string &json)
{
	Answer a;
	wlc::BlobBuf args;
	if (!args.add_json(json))
		return a;
	uint32_t id = bus.lookup(object);
	if (!id) {
		a.status = UBUS_STATUS_NOT_FOUND;
		return a;
	}
	bool done = false;
	wlc::AsyncCall c;
	int ret = bus.call_async(id, method, args, c, [&](blob_attr *msg) { a.reply = wlc::BlobBuf().add_fields(msg).json(); },
				 [&](int s) {
					 a.status = s;
					 done = true;
				 });
	if (ret != 0) {
		a.status = ret;
		return a;
	}
	wlctest::pump([&] { return done; }, 20s);
	return a;
}

namespace {

bool wait_objects(wlc::Bus &bus, const std::vector<std::string> &objects)
{
	// The old daemon is gone, so every object found is on the new one.
	return wlctest::pump([&] {
		return bus.online() &&
		       std::all_of(objects.begin(), objects.end(), [&](const std::string &o) { return bus.lookup(o) != 0; });
	}, 30s);
}

} // namespace

bool restart_bus_and_wait(std::unique_ptr<wlctest::Process> &daemon, const std::string &socket, wlc::Bus &bus,
			  const std::vector<std::string> &objects)
{
	wlctest::restart_bus_daemon(daemon, socket);
	return wait_objects(bus, objects);
}

bool restart_bus_and_wait(wlctest::BusDaemon &daemon, wlc::Bus &bus, const std::vector<std::string> &objects)
{
	daemon.restart();
	return wait_objects(bus, objects);
}

} // namespace faulttest
