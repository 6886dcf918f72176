// Calls out whose replies nobody waits for.
#include <wlc/calls.h>

namespace wlc {

CallsInFlight::CallsInFlight(std::chrono::seconds give_up, size_t max) : give_up_(give_up), max_(max) {}

bool CallsInFlight::call(Bus &bus, uint32_t id, const std::string &method, const BlobBuf &msg,
			 std::function<void(int status)> done)
{
	if (flights_.size() >= max_)
		flights_.pop_front();
	auto flight = std::make_unique<Flight>();
	flight->started = std::chrono::steady_clock::now();
	auto finished = [this, done = std::move(done)](int status) {
		reaper_.set(0);
		if (done)
			done(status);
	};
	if (bus.call_async(id, method, msg, flight->call, nullptr, std::move(finished)) != 0)
		return false;
	flights_.push_back(std::move(flight));
	if (!reaper_.pending())
		reaper_.set(1000);
	return true;
}

void CallsInFlight::reap()
{
	auto now = std::chrono::steady_clock::now();
	flights_.remove_if([&](const std::unique_ptr<Flight> &f) {
		return !f->call.pending() || now - f->started > give_up_;
	});
	if (!flights_.empty())
		reaper_.set(1000);
}

} // namespace wlc
