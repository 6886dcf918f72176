// Fire-and-forget bus calls.
#include "bus_calls.h"

#include <wlc/calls.h>
#include <wlc/loop.h>

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <utility>

namespace mast {

namespace {

// Unanswered calls are given up after a minute.
wlc::CallsInFlight &calls()
{
	static wlc::CallsInFlight c(std::chrono::seconds(60));
	return c;
}

// Objects called by path. Each id is looked up on the first call and again
// only when a call finds the object gone (its daemon restarted): a look-up
// is a blocking round trip through the bus daemon, too dear for every
// message. A message whose call found the object gone, and the messages
// for that path arriving meanwhile, are held and sent in their order once
// the path has been looked up again (from the loop, outside the bus's
// callbacks); when the object is absent then, they are dropped.
struct Held {
	std::string method;
	std::shared_ptr<wlc::BlobBuf> msg;
	uint32_t failed_id = 0;        // the id its call found gone (0: not sent yet)
	std::function<void()> absent; // told when the message is dropped for want of the object
};

struct PathTarget {
	wlc::Bus *bus = nullptr;
	uint32_t id = 0; // 0: to be looked up
	std::deque<Held> held;
};

std::map<std::string, PathTarget> &targets()
{
	static std::map<std::string, PathTarget> t;
	return t;
}

void send_held();

wlc::Timer &find_again()
{
	static wlc::Timer t([] { send_held(); });
	return t;
}

void send(const std::string &path, PathTarget &target, const std::string &method, std::shared_ptr<wlc::BlobBuf> msg,
	  bool resent, std::function<void()> absent)
{
	const uint32_t id = target.id;
	auto found_gone = [path, id, method, msg, resent, absent = std::move(absent)](int status) {
		if (status != UBUS_STATUS_NOT_FOUND || resent)
			return;
		auto it = targets().find(path);
		if (it == targets().end())
			return;
		if (it->second.id == id)
			it->second.id = 0;
		it->second.held.push_back({method, msg, id, absent});
		find_again().set(0);
	};
	(void)calls().call(*target.bus, id, method, *msg, std::move(found_gone));
}

void send_held()
{
	for (auto &[path, target] : targets()) {
		if (target.held.empty())
			continue;
		std::deque<Held> held = std::move(target.held);
		target.held.clear();
		if (target.id == 0)
			target.id = target.bus->lookup(path);
		if (target.id == 0) {
			for (const Held &h : held)
				if (h.absent)
					h.absent();
			continue;
		}
		// An object still under the same id answered NOT_FOUND itself: its
		// answer stands, the message is not made again.
		for (Held &h : held)
			if (h.failed_id != target.id)
				send(path, target, h.method, std::move(h.msg), h.failed_id != 0, std::move(h.absent));
	}
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

bool call_nowait(wlc::Bus &bus, const std::string &path, const std::string &method, wlc::BlobBuf msg,
		 std::function<void()> absent)
{
	PathTarget &target = targets()[path];
	if (target.bus != &bus) {
		target.bus = &bus;
		target.id = 0;
	}
	auto shared = std::make_shared<wlc::BlobBuf>(std::move(msg));
	if (!target.held.empty()) {
		target.held.push_back({method, std::move(shared), 0, std::move(absent)});
		return true;
	}
	if (target.id == 0)
		target.id = bus.lookup(path);
	if (target.id == 0)
		return false;
	send(path, target, method, std::move(shared), false, std::move(absent));
	return true;
}

size_t calls_in_flight()
{
	return calls().size();
}

} // namespace mast
