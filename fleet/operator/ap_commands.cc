// Commands to one AP.
#include "ap_commands.h"

namespace fleet {

ApCommand make_ap_command(ApCommandKind kind, const std::string &id, bool enabled)
{
	ApCommand c;
	switch (kind) {
	case ApCommandKind::reboot:
		c.topic = "zev/wlc/control/ap/" + id + "/reboot";
		c.detail = "reboot";
		break;
	case ApCommandKind::reset:
		c.topic = "zev/wlc/control/ap/" + id + "/reset";
		c.detail = "factory reset";
		break;
	case ApCommandKind::enforced_auth:
		c.topic = "zev/wlc/enforced_auth";
		c.message.emplace();
		c.message->add("id", id).add_bool("enabled", enabled);
		c.detail = enabled ? "enforced authentication on" : "enforced authentication off";
		break;
	}
	return c;
}

} // namespace fleet
