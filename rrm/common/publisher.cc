// Fire-and-forget publications through "mqtt.wlc".
#include "publisher.h"

namespace rrm {

namespace {

// A bridge that never answers must not make calls pile up.
constexpr auto give_up = std::chrono::seconds(30);
constexpr size_t max_in_flight = 256;

} // namespace

SendResult Publisher::send(const std::string &topic, const Fill &fill)
{
	uint32_t id = lookup();
	return id ? send_to(id, topic, fill) : SendResult::no_object;
}

SendResult Publisher::send_to(uint32_t bridge, const std::string &topic, const Fill &fill)
{
	buf_.reset();
	buf_.add("path", topic);
	blobmsg_add_u32(buf_.raw(), "qos", 1);
	{
		auto message = buf_.table("message");
		fill(buf_);
	}
	if (flights_.size() >= max_in_flight)
		flights_.pop_front();
	auto flight = std::make_unique<Flight>();
	flight->started = std::chrono::steady_clock::now();
	int r = bus_.call_async(bridge, "send", buf_, flight->call, nullptr, [this](int) { reaper_.set(0); });
	buf_.reset();
	if (r != 0)
		return SendResult::invoke_failed;
	flights_.push_back(std::move(flight));
	if (!reaper_.pending())
		reaper_.set(1000);
	return SendResult::sent;
}

void Publisher::reap()
{
	auto now = std::chrono::steady_clock::now();
	flights_.remove_if([now](const std::unique_ptr<Flight> &f) { return !f->call.pending() || now - f->started > give_up; });
	if (!flights_.empty())
		reaper_.set(1000);
}

} // namespace rrm
