// Fire-and-forget bus calls.
#include "bus_calls.h"

#include <wlc/loop.h>

#include <chrono>
#include <list>
#include <memory>

namespace mast {

namespace {

constexpr auto kGiveUp = std::chrono::seconds(60);

struct Flight {
	wlc::AsyncCall call;
	std::chrono::steady_clock::time_point started;
};

struct Calls {
	std::list<std::unique_ptr<Flight>> flights;
	wlc::Timer reaper{[this] { reap(); }};

	// Frees finished calls and aborts those that never got an answer.
	void reap()
	{
		auto now = std::chrono::steady_clock::now();
		flights.remove_if([&](const std::unique_ptr<Flight> &f) {
			return !f->call.pending() || now - f->started > kGiveUp;
		});
		if (!flights.empty())
			reaper.set(1000);
	}
};

Calls &calls()
{
	static Calls c;
	return c;
}

} // namespace

bool call_nowait(wlc::Bus &bus, uint32_t id, const std::string &method, const wlc::BlobBuf &msg,
		 std::function<void(int status)> done)
{
	auto flight = std::make_unique<Flight>();
	flight->started = std::chrono::steady_clock::now();
	Calls &c = calls();
	auto finished = [&c, done = std::move(done)](int status) {
		c.reaper.set(0);
		if (done)
			done(status);
	};
	if (bus.call_async(id, method, msg, flight->call, nullptr, std::move(finished)) != 0)
		return false;
	c.flights.push_back(std::move(flight));
	if (!c.reaper.pending())
		c.reaper.set(1000);
	return true;
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
	return calls().flights.size();
}

} // namespace mast
