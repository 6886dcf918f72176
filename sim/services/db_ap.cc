// Stand-in for the controller's AP database object "db.ap": "set" merges a
// record into the AP's entry (by "id"), "list" returns every entry.
//   sim_db_ap [-s <socket>]
#include <wlc/bus.h>

#include <map>
#include <string>

#include "run_service.h"

namespace {

// Each AP's fields, by name, as the last "set" gave them.
std::map<std::string, std::map<std::string, std::vector<uint8_t>>> records;

int set(wlc::Request &, blob_attr *msg)
{
	wlc::Fields<1> f;
	if (!f.parse({{{"id", BLOBMSG_TYPE_STRING}}}, msg) || !f.str(0))
		return UBUS_STATUS_INVALID_ARGUMENT;
	auto &rec = records[std::string(*f.str(0))];
	blob_attr *pos;
	size_t rem;
	blob_for_each_attr(pos, msg, rem) {
		auto *p = reinterpret_cast<const uint8_t *>(pos);
		rec[blobmsg_name(pos)] = std::vector<uint8_t>(p, p + blob_pad_len(pos));
	}
	return UBUS_STATUS_OK;
}

int list(wlc::Request &req, blob_attr *)
{
	wlc::BlobBuf reply;
	for (const auto &[id, fields] : records) {
		auto table = reply.table(id.c_str());
		for (const auto &[name, bytes] : fields)
			reply.add_field(reinterpret_cast<blob_attr *>(const_cast<uint8_t *>(bytes.data())));
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace

int main(int argc, char **argv)
{
	wlc::BusObject db("db.ap", {{"set", {}, set}, {"list", {}, list}});
	return sim::run_service("db.ap", argc, argv, db);
}
