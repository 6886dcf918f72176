// "vlan" and "dns": the logical interfaces as the platform's
// "network.interface.*" objects describe them.
#include "net_stats.h"

#include <wlc/c/uci.h>
#include <wlc/log.h>
#include <zev/util.h>

#include <cstdio>
#include <cstring>
#include <memory>

namespace vigil {

namespace {

constexpr int kStatusTimeoutMs = 1000;

// One logical interface while the walk looks at it.
struct IfaceEntry {
	std::string table;  // reply table name
	std::string device; // kernel device carrying it
	bool up = false;
	bool control = false;
};

// The logical name of an object path (the part after the last '.').
std::optional<std::string> logical_name(const std::string &path)
{
	size_t dot = path.rfind('.');
	if (dot == std::string::npos || dot + 1 == path.size())
		return std::nullopt;
	return path.substr(dot + 1);
}

// Device and table name of a logical interface; nullopt when "con" has no VLAN.
std::optional<IfaceEntry> entry_for(const std::string &name)
{
	IfaceEntry e;
	e.table = name;
	if (name.rfind("vlan", 0) == 0) {
		e.device = "br-" + name;
	} else if (name == "con") {
		e.device = "br-con";
		e.control = true;
		int vlan = zev_net_iface_brif_vlan("br-con");
		if (vlan < 1) {
			wlc::logf(LOG_DEBUG, "FAILED vlan not found");
			return std::nullopt;
		}
		e.table = "vlan" + std::to_string(vlan);
	} else {
		e.device = name;
	}
	return e;
}

enum { ST_UP, ST_PROTO, ST_METRIC, ST_DEVICE, ST_L3_DEVICE, ST_IPV4, ST_DNS, ST_INACTIVE, ST_N };
constexpr std::array<blobmsg_policy, ST_N> kStatusPolicy = {{
	{"up", BLOBMSG_TYPE_BOOL}, {"proto", BLOBMSG_TYPE_STRING}, {"metric", BLOBMSG_TYPE_INT32},
	{"device", BLOBMSG_TYPE_STRING}, {"l3_device", BLOBMSG_TYPE_STRING}, {"ipv4-address", BLOBMSG_TYPE_ARRAY},
	{"dns-server", BLOBMSG_TYPE_ARRAY}, {"inactive", BLOBMSG_TYPE_TABLE},
}};

// Calls "status" of one interface object; on_status sees the reply (null when none came).
template <typename F>
bool interface_status(wlc::Bus &bus, uint32_t id, F on_status)
{
	bool answered = false;
	wlc::BlobBuf args;
	int rc = bus.call(id, "status", args, [&](blob_attr *msg) {
		if (!msg)
			return;
		answered = true;
		on_status(msg);
	}, kStatusTimeoutMs);
	if (rc == UBUS_STATUS_OK && !answered)
		wlc::logf(LOG_DEBUG, "FAILED interface status not found");
	return rc == UBUS_STATUS_OK;
}

void add_status_fields(blob_attr *msg, IfaceEntry &e, wlc::BlobBuf &reply)
{
	wlc::Fields<ST_N> f;
	f.parse(kStatusPolicy, msg);
	if (auto up = f.boolean(ST_UP)) {
		reply.add_bool("up", *up);
		e.up = *up;
	}
	if (auto s = f.str(ST_PROTO))
		reply.add("proto", *s);
	if (auto m = f.u32(ST_METRIC))
		reply.add_u32("metric", *m);
	if (auto s = f.str(ST_DEVICE)) {
		reply.add("device", *s);
		e.device = *s;
	}
	if (auto s = f.str(ST_L3_DEVICE)) {
		reply.add("l3_device", *s);
		e.device = *s;
	}
	if (f.has(ST_IPV4))
		reply.add_field(f[ST_IPV4]);
}

void add_statistics(const IfaceCounters &c, wlc::BlobBuf &reply)
{
	static constexpr const char *kRx[] = {"bytes", "packets", "errs", "drop", "fifo", "frame", "compressed",
					      "multicast", "length", "crc", "overrun", "missed"};
	// The record keeps crc, over, missed, length; the reply lists length first.
	static constexpr int kRxSlot[] = {0, 1, 2, 3, 4, 5, 6, 7, 11, 8, 9, 10};
	static constexpr const char *kTx[] = {"bytes", "packets", "errs", "drop", "fifo", "colls",
					      "carrier", "compressed", "aborted", "heartbeat", "window"};
	auto stats = reply.table("statistics");
	{
		auto rx = reply.table("rx");
		for (size_t i = 0; i < std::size(kRx); i++)
			reply.add_u64(kRx[i], c.rx[static_cast<size_t>(kRxSlot[i])]);
	}
	auto tx = reply.table("tx");
	for (size_t i = 0; i < std::size(kTx); i++)
		reply.add_u64(kTx[i], c.tx[i]);
}

void add_sys_param(const IfaceEntry &e, const char *attr, const char *what, bool numeric, wlc::BlobBuf &reply,
		   const char *field)
{
	char buf[128];
	if (zev_net_iface_sys_param(e.device.c_str(), attr, buf, sizeof(buf)) != 0) {
		wlc::logf(LOG_DEBUG, "FAILED to get %s for %s", what, e.device.c_str());
		return;
	}
	if (numeric)
		reply.add_u32(field, static_cast<uint32_t>(std::atoi(buf)));
	else
		reply.add(field, buf);
}

void add_up_details(const IfaceEntry &e, const IfaceCounterMap &counters, wlc::BlobBuf &reply)
{
	add_sys_param(e, "address", "mac", false, reply, "mac");
	add_sys_param(e, "mtu", "mtu", true, reply, "mtu");
	add_sys_param(e, "ifindex", "index", true, reply, "index");
	auto it = counters.find(e.device);
	if (it == counters.end())
		wlc::logf(LOG_DEBUG, "FAILED to get %s statistics", e.device.c_str());
	else
		add_statistics(it->second, reply);
}

struct UciFree {
	void operator()(uci_context *c) const noexcept { uci_free_context(c); }
};

// The option as a string, or nullptr; false when the lookup itself fails.
bool uci_string(uci_context *ctx, const std::string &path, const char *&value)
{
	std::string text = path;
	uci_ptr ptr;
	value = nullptr;
	if (uci_lookup_ptr(ctx, &ptr, text.data(), true) != UCI_OK) {
		wlc::logf(LOG_DEBUG, "FAILED to lookup UCI option: %s", path.c_str());
		return false;
	}
	if ((ptr.flags & uci_ptr::UCI_LOOKUP_COMPLETE) && ptr.o && ptr.o->type == UCI_TYPE_STRING)
		value = ptr.o->v.string;
	return true;
}

// A down interface: its configured address from UCI.
void add_configured_address(const IfaceEntry &e, wlc::BlobBuf &reply)
{
	std::unique_ptr<uci_context, UciFree> ctx(uci_alloc_context());
	if (!ctx) {
		wlc::logf(LOG_DEBUG, "FAILED to allocate UCI context");
		return;
	}
	const char *ipaddr = nullptr, *netmask = nullptr;
	if (!uci_string(ctx.get(), "network." + e.table + ".ipaddr", ipaddr) ||
	    !uci_string(ctx.get(), "network." + e.table + ".netmask", netmask))
		return;
	auto list = reply.array("ipv4-address");
	auto table = reply.table();
	// Without a netmask there is no configured network to report: the
	// table stays empty, whatever address is set.
	if (!netmask)
		return;
	uint32_t mask;
	if (zev_net_str_to_addr(netmask, &mask) == 0)
		reply.add_u32("mask", static_cast<uint32_t>(zev_net_mask_to_prefix(mask)));
	if (ipaddr)
		reply.add("address", ipaddr);
}

void add_interface(wlc::Bus &bus, IfaceEntry &e, const std::string &path, const IfaceCounterMap &counters,
		   wlc::BlobBuf &reply)
{
	uint32_t id = bus.lookup(path);
	if (!id) {
		wlc::logf(LOG_WARNING, "FAILED to find %s ubus object", e.table.c_str());
		return;
	}
	auto table = reply.table(e.table.c_str());
	if (!interface_status(bus, id, [&](blob_attr *msg) { add_status_fields(msg, e, reply); }))
		wlc::logf(LOG_WARNING, "FAILED to invoke %s %s", e.table.c_str(), "status");
	reply.add_bool("control", e.control);
	if (e.up)
		add_up_details(e, counters, reply);
	else
		add_configured_address(e, reply);
}

} // namespace

int vlan_method(wlc::Bus &bus, wlc::Request &req)
{
	std::optional<IfaceCounterMap> counters = read_iface_counters();
	if (!counters) {
		wlc::logf(LOG_DEBUG, "FAILED to read interfaces ststistics");
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	std::optional<std::vector<std::string>> paths = interface_objects(bus);
	if (!paths) {
		wlc::logf(LOG_DEBUG, "FAILED to find interfaces");
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	wlc::BlobBuf reply;
	for (const std::string &path : *paths) {
		std::optional<std::string> name = logical_name(path);
		if (!name) {
			wlc::logf(LOG_DEBUG, "FAILED interface not found");
			continue;
		}
		if (*name == "loopback")
			continue;
		if (std::optional<IfaceEntry> e = entry_for(*name))
			add_interface(bus, *e, path, *counters, reply);
	}
	req.reply(reply);
	return UBUS_STATUS_OK;
}

namespace {

// Records each server of a "dns-server" list; a static source wins over DHCP.
void record_servers(blob_attr *list, bool is_static, std::map<std::string, bool> &servers)
{
	if (!list || blobmsg_type(list) != BLOBMSG_TYPE_ARRAY)
		return;
	blob_attr *cur;
	size_t rem;
	blobmsg_for_each_attr(cur, list, rem) {
		std::optional<std::string_view> addr = wlc::get_string(cur);
		if (!addr)
			continue;
		auto [it, fresh] = servers.emplace(std::string(*addr), is_static);
		if (!fresh && !it->second)
			it->second = is_static;
	}
}

void record_dns(blob_attr *msg, std::map<std::string, bool> &servers)
{
	wlc::Fields<ST_N> f;
	f.parse(kStatusPolicy, msg);
	auto device = f.str(ST_DEVICE);
	bool is_static = device && *device == "lo";
	record_servers(f[ST_DNS], is_static, servers);
	if (f.has(ST_INACTIVE)) {
		wlc::Fields<ST_N> inactive;
		inactive.parse(kStatusPolicy, f[ST_INACTIVE]);
		record_servers(inactive[ST_DNS], is_static, servers);
	}
}

} // namespace

int dns_method(wlc::Bus &bus, wlc::Request &req)
{
	std::optional<std::vector<std::string>> paths = interface_objects(bus);
	if (!paths) {
		wlc::logf(LOG_DEBUG, "FAILED to find interfaces");
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
	std::map<std::string, bool> servers; // address -> static; ordered as strcmp orders
	for (const std::string &path : *paths) {
		uint32_t id = bus.lookup(path);
		if (!id) {
			wlc::logf(LOG_DEBUG, "FAILED to find %s ubus object", path.c_str());
			continue;
		}
		if (!interface_status(bus, id, [&](blob_attr *msg) { record_dns(msg, servers); }))
			wlc::logf(LOG_DEBUG, "FAILED to invoke %s status", path.c_str());
	}
	wlc::BlobBuf reply;
	for (const auto &[addr, is_static] : servers)
		reply.add(addr.c_str(), is_static ? "static" : "dhcp");
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace vigil
