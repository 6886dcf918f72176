// The AP database object "db.ap": method "set" takes the join and presence
// records of the controller's mast and records them. The records that
// arrive together (a join storm: mast does not wait for the replies) are
// written in one transaction, each change a savepoint of its own; every
// reply, and every JOIN_RESP, waits until that transaction is durable.
#pragma once

#include <wlc/bus.h>

#include <vector>

#include "approval/lifecycle.h"
#include "dbap/records.h"

namespace fleet {

class DbApObject {
public:
	// db: the inventory's connection, for the batch's transaction.
	DbApObject(Lifecycle &lifecycle, sqlite3 *db);
	int add(wlc::Bus &bus) { return object_.add(bus); }
	void remove() { object_.remove(); }

	// The most records one transaction takes.
	static constexpr size_t kMaxBatch = 256;

private:
	struct Waiting {
		ApRecordMessage record;
		wlc::DeferredReply reply;
	};
	int set(wlc::Request &req, blob_attr *msg);
	void flush();
	bool record(const ApRecordMessage &rec);

	Lifecycle &lifecycle_;
	sqlite3 *db_;
	std::vector<Waiting> waiting_;
	wlc::Timer flush_{[this] { flush(); }};
	wlc::BusObject object_;
};

} // namespace fleet
