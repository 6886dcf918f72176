// Refusals and callers of operator calls.
#include "call_replies.h"

#include <wlc/log.h>

#include "common/identifiers.h"

namespace fleet {

int fail(wlc::Request &req, const char *method, int status, const std::string &message)
{
	wlc::logf(LOG_WARNING, "Refused fleet %s call: %s", method, message.c_str());
	wlc::BlobBuf reply;
	reply.add("message", message);
	req.reply(reply);
	return status;
}

std::string who(const wlc::Request &req)
{
	const char *user = req.user();
	return user && *user ? "operator " + printable(user, 32) : std::string("operator");
}

} // namespace fleet
