// Publishing JOIN_RESP.
#include "join_response.h"

namespace fleet {

bool send_join_response(Publisher &publisher, const std::string &id)
{
	return publisher.publish("zev/wlc/control/ap/" + id + "/join_response", nullptr, "JOIN_RESP to " + id);
}

} // namespace fleet
