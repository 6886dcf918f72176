// JOIN_RESP: an empty message on the AP's join-response topic (the AP
// does not read its payload).
#pragma once

#include <string>

#include "common/publisher.h"

namespace fleet {

// False when it could not be handed to the bridge (the AP's next join is answered).
bool send_join_response(Publisher &publisher, const std::string &id);

} // namespace fleet
