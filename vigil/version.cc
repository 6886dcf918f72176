// The device's identity: board description, management MAC, uptime, serial,
// identifier, host name and the slot the boot loader starts.
#include "version.h"

#include <wlc/log.h>
#include <zev/devinfo.h>
#include <zev/util.h>

#include <cstdio>
#include <unistd.h>

namespace vigil {

namespace {

// The "board" description of the platform's "system" object; false when it cannot be asked.
bool add_board(wlc::Bus &bus, wlc::BlobBuf &reply)
{
	uint32_t id = bus.lookup("system");
	if (!id) {
		wlc::logf(LOG_DEBUG, "FAILED to find system ubus object");
		return false;
	}
	bool answered = false;
	wlc::BlobBuf args;
	int rc = bus.call(id, "board", args, [&](blob_attr *msg) {
		answered = msg != nullptr;
		if (!msg)
			return;
		enum { SYSTEM, MODEL, RELEASE, N };
		wlc::Fields<N> f;
		if (!f.parse({{{"system", BLOBMSG_TYPE_STRING}, {"model", BLOBMSG_TYPE_STRING},
			       {"release", BLOBMSG_TYPE_TABLE}}}, msg))
			return;
		if (auto s = f.str(SYSTEM))
			reply.add("cpu", *s);
		if (auto s = f.str(MODEL))
			reply.add("model", *s);
		wlc::Fields<1> rel;
		if (f.has(RELEASE) && rel.parse({{{"version", BLOBMSG_TYPE_STRING}}}, f[RELEASE]))
			if (auto v = rel.str(0))
				reply.add("version", *v);
	}, 1000);
	if (rc != UBUS_STATUS_OK) {
		wlc::logf(LOG_DEBUG, "FAILED to invoke system board");
		return false;
	}
	if (!answered)
		wlc::logf(LOG_DEBUG, "FAILED system board not found");
	return true;
}

void add_identity(wlc::BlobBuf &reply)
{
	char mac[18];
	if (zev_net_iface_sys_param("br-con", "address", mac, sizeof(mac)) != 0) {
		wlc::logf(LOG_DEBUG, "FAILED to get mac for br-con");
		return;
	}
	int64_t uptime = zev_devinfo_uptime();
	if (uptime < 0) {
		wlc::logf(LOG_DEBUG, "FAILED to get uptime");
		return;
	}
	char slot_text[8] = "";
	if (zev_devinfo_get_env("dual_boot.current_slot", slot_text, sizeof(slot_text)) < 0) {
		wlc::logf(LOG_DEBUG, "FAILED to get dual_boot.current_slot");
		return;
	}
	unsigned int slot = 0;
	if (std::sscanf(slot_text, "%u", &slot) != 1)
		slot = 0;
	reply.add_u32("boot_slot", slot);
	reply.add("mac", mac);
	reply.add_u64("uptime", static_cast<uint64_t>(uptime));
	if (const char *sn = zev_devinfo_serial())
		reply.add("sn", sn);
	if (const char *id = zev_devinfo_id())
		reply.add("id", id);
	char host[64];
	if (gethostname(host, sizeof(host)) == 0) {
		host[sizeof(host) - 1] = '\0';
		reply.add("hostname", host);
	}
}

} // namespace

int version_method(wlc::Bus &bus, wlc::Request &req)
{
	wlc::BlobBuf reply;
	if (add_board(bus, reply))
		add_identity(reply);
	req.reply(reply);
	return UBUS_STATUS_OK;
}

} // namespace vigil
