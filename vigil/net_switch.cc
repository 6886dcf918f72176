// "switchport": per-port switch counters, link and PVID for the ports the
// board file lists.
#include "net_stats.h"

#include <fsroot/fsroot.h>
#include <wlc/log.h>
#include <zev/devinfo.h>
#include <zev/util.h>

#include <json-c/json.h>

namespace vigil {

namespace {

struct JsonFree {
	void operator()(json_object *o) const noexcept { json_object_put(o); }
};
using JsonPtr = std::unique_ptr<json_object, JsonFree>;

constexpr const char *kRxCounters[] = {"RxUni", "RxMulti", "RxBroad", "RxByte", "RxDrop"};
constexpr const char *kTxCounters[] = {"TxUni", "TxMulti", "TxBroad", "TxByte", "TxDrop"};

// All five counters of one direction; false (logged) at the first that fails.
bool read_counters(int port, const char *const (&names)[5], uint64_t (&v)[5])
{
	for (size_t i = 0; i < 5; i++) {
		if (zev_switch_port_stat(port, names[i], &v[i]) != 0) {
			wlc::logf(LOG_DEBUG, "FAILED to get port%d %s", port, names[i]);
			return false;
		}
	}
	return true;
}

void add_port(int port, wlc::BlobBuf &reply)
{
	uint64_t rx[5], tx[5];
	struct zev_switch_port_link state = {};
	int pvid = 0;
	if (!read_counters(port, kRxCounters, rx) || !read_counters(port, kTxCounters, tx) ||
	    zev_switch_port_link(port, &state) != 0 || zev_switch_port_vid(port, &pvid) != 0)
		return;
	reply.add_u64("rx_pkts", rx[0] + rx[1] + rx[2]);
	reply.add_u64("rx_byte", rx[3]);
	reply.add_u64("rx_drop", rx[4]);
	reply.add_u64("tx_pkts", tx[0] + tx[1] + tx[2]);
	reply.add_u64("tx_byte", tx[3]);
	reply.add_u64("tx_drop", tx[4]);
	reply.add_bool("link", state.link);
	reply.add_bool("duplex", state.duplex);
	reply.add_u64("speed", static_cast<uint64_t>(static_cast<int64_t>(static_cast<int32_t>(state.speed))));
	reply.add_u32("pvid", static_cast<uint32_t>(pvid));
}

void add_switch(const char *key, json_object *ports, wlc::BlobBuf &reply)
{
	if (zev_switch_load_dev() < 0)
		return;
	auto table = reply.table(key);
	if (json_object_is_type(ports, json_type_object)) {
		json_object_object_foreach(ports, name, port) {
			json_object *num;
			if (!json_object_is_type(port, json_type_object) || !json_object_object_get_ex(port, "num", &num))
				continue;
			auto port_table = reply.table(name);
			add_port(json_object_get_int(num), reply);
		}
	}
	zev_switch_free();
}

} // namespace

int switchport_method(wlc::Request &req)
{
	const char *model = zev_devinfo_model();
	std::string path = wlc::root_path("/etc/boards/" + std::string(model ? model : "") + ".json");
	JsonPtr board(json_object_from_file(path.c_str()));
	json_object *ports = nullptr;
	if (!board || !json_object_object_get_ex(board.get(), "ports", &ports) ||
	    !json_object_is_type(ports, json_type_object)) {
		wlc::logf(LOG_DEBUG, "FAILED to collect ports statistics");
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	wlc::BlobBuf reply;
	json_object_object_foreach(ports, key, sw) add_switch(key, sw, reply);
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace vigil
