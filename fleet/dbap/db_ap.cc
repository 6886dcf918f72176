// The "db.ap" object.
#include "db_ap.h"

#include <wlc/log.h>

#include "dbap/records.h"

namespace fleet {

namespace {

int fail(wlc::Request &req, int status, const std::string &message)
{
	wlc::BlobBuf reply;
	reply.add("message", message);
	req.reply(reply);
	return status;
}

} // namespace

DbApObject::DbApObject(Lifecycle &lifecycle)
	: lifecycle_(lifecycle),
	  object_("db.ap", {{"set", {}, [this](wlc::Request &r, blob_attr *m) { return set(r, m); }}})
{
}

int DbApObject::set(wlc::Request &req, blob_attr *msg)
{
	ApRecordMessage rec = read_ap_record(msg);
	if (const auto *bad = std::get_if<BadRecord>(&rec)) {
		wlc::logf(LOG_WARNING, "Refused AP record: %s", bad->reason.c_str());
		return fail(req, UBUS_STATUS_INVALID_ARGUMENT, bad->reason);
	}
	bool saved;
	const std::string *id;
	if (const auto *join = std::get_if<JoinInfo>(&rec)) {
		id = &join->id;
		saved = lifecycle_.on_join(*join);
	} else {
		const auto &presence = std::get<PresenceInfo>(rec);
		id = &presence.id;
		saved = lifecycle_.on_presence(presence);
	}
	if (!saved) {
		wlc::logf(LOG_ERR, "Failed to record AP %s in the inventory", id->c_str());
		return fail(req, UBUS_STATUS_UNKNOWN_ERROR, "inventory not written");
	}
	return UBUS_STATUS_OK;
}

} // namespace fleet
