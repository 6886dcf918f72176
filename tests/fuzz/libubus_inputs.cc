// Plays the daemon's side of one connection with the fuzzer's bytes (from a
// thread, since connecting waits for the greeting) while the client library
// registers an object, looks it up, calls it and then serves from the loop
// until the stream ends.
#include "libubus_inputs.h"

#include <wlc/c/blobmsg_json.h>
#include <wlc/c/ubus.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace wlcfuzz {

namespace {

constexpr size_t kMaxInput = 64 * 1024;
constexpr int kCallTimeoutMs = 1000;

// A listening socket in a private directory, removed at exit.
struct Listener {
	std::string dir;
	std::string path;
	int fd = -1;

	Listener()
	{
		const char *tmp = std::getenv("TMPDIR");
		std::string tmpl = std::string(tmp && *tmp ? tmp : "/tmp") + "/wlcfuzz-libubus.XXXXXX";
		if (!mkdtemp(tmpl.data()))
			std::abort();
		dir = tmpl;
		path = dir + "/ubus.sock";
		sockaddr_un addr = {};
		addr.sun_family = AF_UNIX;
		if (path.size() >= sizeof(addr.sun_path))
			std::abort();
		path.copy(addr.sun_path, path.size());
		fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
		if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0 || listen(fd, 4) < 0)
			std::abort();
	}
	~Listener()
	{
		close(fd);
		std::error_code ec;
		std::filesystem::remove_all(dir, ec);
	}
};

Listener &listener()
{
	static Listener l;
	return l;
}

// The daemon's side: everything at once, then end of stream; what the
// client sends is read and dropped until it hangs up.
void play_daemon(const uint8_t *data, size_t size)
{
	int fd = accept4(listener().fd, nullptr, nullptr, SOCK_CLOEXEC);
	if (fd < 0)
		return;
	size_t off = 0;
	while (off < size) {
		ssize_t n = send(fd, data + off, size - off, MSG_NOSIGNAL);
		if (n <= 0)
			break;
		off += static_cast<size_t>(n);
	}
	shutdown(fd, SHUT_WR);
	char buf[4096];
	while (recv(fd, buf, sizeof(buf), 0) > 0) {
	}
	close(fd);
}

void render(blob_attr *msg, bool list)
{
	if (!msg)
		return;
	std::free(blobmsg_format_json(msg, list));
}

enum { HELLO_ID, HELLO_MSG, HELLO_MAX };
const blobmsg_policy kHelloPolicy[HELLO_MAX] = {
	{"id", BLOBMSG_TYPE_INT32},
	{"msg", BLOBMSG_TYPE_STRING},
};

int on_hello(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *msg) noexcept
{
	blob_attr *tb[HELLO_MAX];
	if (blobmsg_parse(kHelloPolicy, HELLO_MAX, tb, blob_data(msg), blob_len(msg)) < 0)
		return UBUS_STATUS_INVALID_ARGUMENT;
	blob_buf b = {};
	blob_buf_init(&b, 0);
	blobmsg_add_string(&b, "message", tb[HELLO_MSG] ? blobmsg_get_string(tb[HELLO_MSG]) : "");
	ubus_send_reply(ctx, req, b.head);
	blob_buf_free(&b);
	return tb[HELLO_ID] ? UBUS_STATUS_OK : UBUS_STATUS_INVALID_ARGUMENT;
}

int on_later(ubus_context *ctx, ubus_object *, ubus_request_data *req, const char *, blob_attr *) noexcept
{
	ubus_request_data deferred = {};
	ubus_defer_request(ctx, req, &deferred);
	ubus_complete_deferred_request(ctx, &deferred, UBUS_STATUS_OK);
	return 0;
}

ubus_method kMethods[] = {
	UBUS_METHOD("hello", on_hello, kHelloPolicy),
	UBUS_METHOD_NOARG("later", on_later),
};
ubus_object_type kType = UBUS_OBJECT_TYPE("fuzz", kMethods);

void on_data(ubus_request *, int, blob_attr *msg) noexcept
{
	render(msg, false);
}

void on_lookup(ubus_context *, ubus_object_data *obj, void *) noexcept
{
	render(obj->signature, false);
}

void on_lost(ubus_context *) noexcept
{
	uloop_end();
}

void use_client(ubus_context *ctx)
{
	ubus_object obj = {};
	obj.name = "fuzz";
	obj.type = &kType;
	obj.methods = kMethods;
	obj.n_methods = ARRAY_SIZE(kMethods);
	ctx->connection_lost = on_lost;
	ubus_add_object(ctx, &obj);
	ubus_lookup(ctx, "fuzz*", on_lookup, nullptr);
	uint32_t id = 0;
	ubus_lookup_id(ctx, "fuzz", &id);
	blob_buf b = {};
	blob_buf_init(&b, 0);
	blobmsg_add_u32(&b, "id", 1);
	blobmsg_add_string(&b, "msg", "hi");
	ubus_invoke(ctx, id, "hello", b.head, on_data, nullptr, kCallTimeoutMs);
	blob_buf_free(&b);
	// Invokes queued during the waits, and those still to come, are served
	// from the loop until the daemon's stream ends.
	if (!ctx->sock.eof) {
		ubus_add_uloop(ctx);
		uloop_run();
	}
	ubus_remove_object(ctx, &obj);
}

} // namespace

void libubus_one_input(const uint8_t *data, size_t size)
{
	static const bool loop_ready = uloop_init() == 0;
	if (!loop_ready)
		std::abort();
	std::thread daemon(play_daemon, data, std::min(size, kMaxInput));
	ubus_context *ctx = ubus_connect(listener().path.c_str());
	if (ctx) {
		use_client(ctx);
		ubus_free(ctx);
	}
	daemon.join();
}

} // namespace wlcfuzz
