// Publishing JOIN_RESP.
#include "join_response.h"

#include <wlc/log.h>

namespace fleet {

JoinResponse::JoinResponse(wlc::Bus &bus) : bus_(bus), calls_(std::chrono::seconds(60), 4096) {}

bool JoinResponse::send(const std::string &id)
{
	uint32_t bridge = bus_.lookup("mqtt.wlc");
	if (!bridge) {
		wlc::logf(LOG_WARNING, "No mqtt.wlc: JOIN_RESP to %s not sent", id.c_str());
		return false;
	}
	wlc::BlobBuf args;
	args.add("path", "zev/wlc/control/ap/" + id + "/join_response");
	args.add_u32("qos", 2);
	args.add_bool("retain", false);
	std::string ap = id;
	bool sent = calls_.call(bus_, bridge, "send", args, [ap](int status) {
		if (status != UBUS_STATUS_OK)
			wlc::logf(LOG_WARNING, "JOIN_RESP to %s not sent: status %d", ap.c_str(), status);
	});
	if (!sent)
		wlc::logf(LOG_WARNING, "JOIN_RESP to %s not sent", id.c_str());
	else
		wlc::logf(LOG_INFO, "Send JOIN_RESP to %s", id.c_str());
	return sent;
}

} // namespace fleet
