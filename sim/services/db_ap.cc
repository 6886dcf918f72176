// Stand-in for the controller's AP database object "db.ap": "set" merges a
// record into the AP's entry (by "id"), "list" returns every entry.
//   sim_db_ap [-s <socket>]
#include <wlc/bus.h>
#include <wlc/log.h>

#include <map>
#include <string>
#include <unistd.h>

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
	std::string socket;
	int ch;
	while ((ch = getopt(argc, argv, "s:")) != -1) {
		if (ch != 's')
			return 1;
		socket = optarg;
	}
	wlc::log_open("db.ap");
	uloop_init();
	int ret = 0;
	{
		wlc::Bus bus;
		wlc::BusObject db("db.ap", {{"set", {}, set}, {"list", {}, list}});
		if (!bus.connect(socket) || db.add(bus) != UBUS_STATUS_OK) {
			wlc::logf(LOG_ERR, "Failed to connect to ubus");
			ret = 1;
		} else {
			bus.watch();
			bus.on_lost([] { uloop_end(); });
			uloop_run();
		}
	}
	uloop_done();
	wlc::log_close();
	return ret;
}
