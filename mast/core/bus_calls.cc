// Fire-and-forget bus calls.
#include "bus_calls.h"

#include <wlc/calls.h>

#include <chrono>
#include <utility>

namespace mast {

namespace {

// Unanswered calls are given up after a minute.
wlc::CallsInFlight &calls()
{
	static wlc::CallsInFlight c(std::chrono::seconds(60));
	return c;
}

} // namespace

bool call_nowait(wlc::Bus &bus, uint32_t id, const std::string &method, const wlc::BlobBuf &msg,
		 std::function<void(int status)> done)
{
	return calls().call(bus, id, method, msg, std::move(done));
}

bool call_nowait(wlc::Bus &bus, uint32_t id, const std::string &method, const wlc::BlobBuf &msg)
{
	return call_nowait(bus, id, method, msg, nullptr);
}

bool call_nowait(wlc::Bus &bus, const std::string &path, const std::string &method, const wlc::BlobBuf &msg)
{
	uint32_t id = bus.lookup(path);
	return id != 0 && call_nowait(bus, id, method, msg);
}

size_t calls_in_flight()
{
	return calls().size();
}

} // namespace mast
