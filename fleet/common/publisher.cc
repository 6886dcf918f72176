// Publishing through "mqtt.wlc".
#include "publisher.h"

#include <wlc/log.h>

namespace fleet {

Publisher::Publisher(wlc::Bus &bus) : bus_(bus), calls_(std::chrono::seconds(60), 4096) {}

uint32_t Publisher::bridge()
{
	auto now = std::chrono::steady_clock::now();
	if (!bridge_ || now - looked_up_ > kBridgeKept) {
		bridge_ = bus_.lookup("mqtt.wlc");
		looked_up_ = now;
	}
	return bridge_;
}

bool Publisher::publish(const std::string &topic, const wlc::BlobBuf *message, const std::string &what)
{
	uint32_t bridge = this->bridge();
	if (!bridge) {
		wlc::logf(LOG_WARNING, "No mqtt.wlc: %s not sent", what.c_str());
		return false;
	}
	wlc::BlobBuf args;
	args.add("path", topic);
	if (message) {
		auto table = args.table("message");
		args.add_fields(message->head());
	}
	args.add_u32("qos", 2);
	args.add_bool("retain", false);
	auto done = [this, what, bridge](int status) {
		if ((status == UBUS_STATUS_NOT_FOUND || status == UBUS_STATUS_METHOD_NOT_FOUND) && bridge_ == bridge)
			bridge_ = 0;
		if (status != UBUS_STATUS_OK)
			wlc::logf(LOG_WARNING, "%s not sent: status %d", what.c_str(), status);
	};
	bool sent = calls_.call(bus_, bridge, "send", args, done);
	if (!sent) {
		bridge_ = 0;
		bridge = this->bridge();
		sent = bridge && calls_.call(bus_, bridge, "send", args, done);
	}
	if (!sent)
		wlc::logf(LOG_WARNING, "%s not sent", what.c_str());
	else
		wlc::logf(LOG_INFO, "Send %s", what.c_str());
	return sent;
}

} // namespace fleet
