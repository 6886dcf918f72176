// Publishing through "mqtt.wlc".
#include "publisher.h"

#include <wlc/log.h>

#include "key.h"

namespace iapp {

Publisher::Publisher(wlc::Bus &bus) : bus_(bus) {}

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
	bool sent = calls_.call(bus_, id, "send", args);
	wipe(args);
	if (!sent)
		wlc::logf(LOG_DEBUG, "Failed to send message on %s", topic.c_str());
	return sent;
}

} // namespace iapp
