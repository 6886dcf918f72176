// The peers of fleet_bench: the bridge stand-in, bus probes and /proc figures.
#include "fleet_peers.h"

#include <wlc/c/ubus.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fleetbench {

// A field of /proc/<pid>/status in KiB ("VmRSS", "VmHWM").
long status_kib(pid_t pid, const std::string &field)
{
	std::ifstream status("/proc/" + std::to_string(pid) + "/status");
	std::string line;
	while (std::getline(status, line))
		if (line.rfind(field + ":", 0) == 0)
			return std::stol(line.substr(field.size() + 1));
	return -1;
}

// The controller's bridge "mqtt.wlc" for fleetd's JOIN_RESPs: "send"
// counts each message, "sent" answers how many; runs in a child process
// until killed.
void run_bridge(const std::string &socket)
{
	static uint32_t sent = 0;
	static const ubus_method methods[] = {
		UBUS_METHOD_NOARG("send", [](ubus_context *, ubus_object *, ubus_request_data *, const char *, blob_attr *) {
			sent++;
			return 0;
		}),
		UBUS_METHOD_NOARG("sent", [](ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *) {
			wlc::BlobBuf b;
			b.add_u32("sent", sent);
			ubus_send_reply(ctx, req, b.head());
			return 0;
		}),
	};
	static ubus_object_type type = UBUS_OBJECT_TYPE("mqtt.wlc", methods);
	uloop_init();
	ubus_context *ctx = ubus_connect(socket.c_str());
	static ubus_object obj = {};
	obj.name = "mqtt.wlc";
	obj.type = &type;
	obj.methods = methods;
	obj.n_methods = 2;
	if (!ctx || ubus_add_object(ctx, &obj))
		_exit(1);
	ubus_add_uloop(ctx);
	uloop_run();
	_exit(0);
}

namespace {

bool has_object(const std::string &socket, const char *name)
{
	ubus_context *ctx = ubus_connect(socket.c_str());
	uint32_t id = 0;
	bool up = ctx && ubus_lookup_id(ctx, name, &id) == 0;
	if (ctx)
		ubus_free(ctx);
	return up;
}

} // namespace

bool wait_for_object(const std::string &socket, const char *name)
{
	for (int i = 0; i < 1000; i++) {
		if (has_object(socket, name))
			return true;
		usleep(10000);
	}
	return false;
}

// An unsigned number a bus method answers, -1 when it does not.
int64_t ask_number(const std::string &socket, const char *object, const char *method, const char *field,
		   const wlc::BlobBuf &args)
{
	ubus_context *ctx = ubus_connect(socket.c_str());
	uint32_t id = 0;
	struct Want {
		const char *field;
		int64_t value = -1;
	} want{field};
	if (ctx && ubus_lookup_id(ctx, object, &id) == 0)
		ubus_invoke(ctx, id, method, args.head(), [](ubus_request *req, int, blob_attr *msg) {
			auto *w = static_cast<Want *>(req->priv);
			blob_attr *pos;
			size_t rem;
			blob_for_each_attr(pos, msg, rem)
				if (blobmsg_type(pos) == BLOBMSG_TYPE_INT32 && std::strcmp(blobmsg_name(pos), w->field) == 0)
					w->value = blobmsg_get_u32(pos);
		}, &want, 10000);
	if (ctx)
		ubus_free(ctx);
	return want.value;
}

} // namespace fleetbench
