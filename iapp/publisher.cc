// Publishing through "mqtt.wlc".
#include "publisher.h"

#include <wlc/log.h>

#include "key.h"

namespace iapp {

namespace {

// A call the bridge never answers is given up after this long.
constexpr auto kGiveUp = std::chrono::seconds(30);

} // namespace

Publisher::Publisher(wlc::Bus &bus) : bus_(bus), reaper_([this] { reap(); }) {}

bool Publisher::publish(const std::string &topic, const Fill &fill)
{
	uint32_t id = bus_.lookup("mqtt.wlc");
	if (!id) {
		wlc::logf(LOG_DEBUG, "No mqtt.wlc: dropped message on %s", topic.c_str());
		return false;
	}
	wlc::BlobBuf args;
	args.add("path", topic);
	args.add_u32("qos", 1);
	{
		auto message = args.table("message");
		fill(args);
	}
	auto flight = std::make_unique<Flight>();
	flight->started = std::chrono::steady_clock::now();
	int rc = bus_.call_async(id, "send", args, flight->call, nullptr, [this](int) { reaper_.set(0); });
	wipe(args);
	if (rc != 0) {
		wlc::logf(LOG_DEBUG, "Failed to send message on %s", topic.c_str());
		return false;
	}
	flights_.push_back(std::move(flight));
	if (!reaper_.pending())
		reaper_.set(1000);
	return true;
}

// Finished calls are freed here, outside their own callbacks.
void Publisher::reap()
{
	auto now = std::chrono::steady_clock::now();
	flights_.remove_if([&](const std::unique_ptr<Flight> &f) {
		return !f->call.pending() || now - f->started > kGiveUp;
	});
	if (!flights_.empty())
		reaper_.set(1000);
}

} // namespace iapp
