// The "db.ap" object.
#include "db_ap.h"

#include <wlc/log.h>

#include <algorithm>

#include "inventory/sqlite.h"

namespace fleet {

namespace {

int fail(wlc::Request &req, int status, const std::string &message)
{
	wlc::BlobBuf reply;
	reply.add("message", message);
	req.reply(reply);
	return status;
}

const std::string &id_of(const ApRecordMessage &rec)
{
	if (const auto *join = std::get_if<JoinInfo>(&rec))
		return join->id;
	return std::get<PresenceInfo>(rec).id;
}

} // namespace

DbApObject::DbApObject(Lifecycle &lifecycle, sqlite3 *db)
	: lifecycle_(lifecycle), db_(db),
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
	waiting_.push_back({std::move(rec), req.defer()});
	// Written once the records already on the bus connection are read.
	if (!flush_.pending())
		flush_.set(0);
	return UBUS_STATUS_OK;
}

bool DbApObject::record(const ApRecordMessage &rec)
{
	if (const auto *join = std::get_if<JoinInfo>(&rec))
		return lifecycle_.on_join(*join);
	return lifecycle_.on_presence(std::get<PresenceInfo>(rec));
}

void DbApObject::flush()
{
	size_t n = std::min(waiting_.size(), kMaxBatch);
	std::vector<Waiting> batch(std::make_move_iterator(waiting_.begin()), std::make_move_iterator(waiting_.begin() + n));
	waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(n));
	if (!waiting_.empty())
		flush_.set(0);
	std::vector<bool> saved(batch.size(), false);
	{
		// Without the enclosing transaction each change commits on its own.
		Transaction tx(db_);
		lifecycle_.hold_responses();
		for (size_t i = 0; i < batch.size(); i++)
			saved[i] = record(batch[i].record);
		bool durable = !tx.begun() || tx.commit();
		lifecycle_.release_responses(durable);
		if (!durable)
			std::fill(saved.begin(), saved.end(), false);
	}
	for (size_t i = 0; i < batch.size(); i++) {
		if (saved[i]) {
			batch[i].reply.complete(UBUS_STATUS_OK);
			continue;
		}
		wlc::logf(LOG_ERR, "Failed to record AP %s in the inventory", id_of(batch[i].record).c_str());
		wlc::BlobBuf reply;
		reply.add("message", "inventory not written");
		batch[i].reply.reply(reply);
		batch[i].reply.complete(UBUS_STATUS_UNKNOWN_ERROR);
	}
}

} // namespace fleet
