// What every method of the operator's object does with a call: refuse it
// with a status, a "message" and one log line; name who made it for the
// history; read its fields, or say why they do not fit.
#pragma once

#include <wlc/bus.h>

#include <array>
#include <string>

#include "common/message_check.h"

namespace fleet {

// Logs "Refused fleet <method> call: <message>", replies {"message"} and
// returns status.
int fail(wlc::Request &req, const char *method, int status, const std::string &message);

// "operator <user>" for a call of a logged-in user, else "operator".
std::string who(const wlc::Request &req);

// The checked policy fields of msg, or the reason they are not sound.
template <size_t N>
std::string read_fields(blob_attr *msg, const std::array<blobmsg_policy, N> &policy, wlc::Fields<N> &f)
{
	std::string wrong = wrong_types(msg, policy);
	if (!wrong.empty())
		return wrong;
	return f.parse(policy, msg) ? "" : "malformed message";
}

} // namespace fleet
