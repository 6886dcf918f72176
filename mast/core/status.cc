// The status object.
#include "status.h"

namespace mast {

Status::Status(Role role)
	: role_(role),
	  object_("mast", {{"status", {}, [this](wlc::Request &req, blob_attr *) {
				    req.reply(record_);
				    return UBUS_STATUS_OK;
			    }}})
{
}

void Status::set(const std::string &status, const std::string &description, const std::vector<BrokerAddress> &peers)
{
	record_.reset();
	record_.add("role", role_ == Role::Wlc ? "wlc" : "ap");
	record_.add("status", status);
	record_.add("description", description);
	if (peers.empty())
		return;
	auto list = record_.array("peers");
	for (const BrokerAddress &p : peers)
		record_.add(nullptr, p.port ? p.host + ":" + std::to_string(p.port) : p.host);
}

} // namespace mast
