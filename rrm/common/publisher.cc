// Fire-and-forget publications through "mqtt.wlc".
#include "publisher.h"

namespace rrm {

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
	bool sent = calls_.call(bus_, bridge, "send", buf_);
	buf_.reset();
	return sent ? SendResult::sent : SendResult::invoke_failed;
}

} // namespace rrm
