// Bus client connection: connecting, the socket's event handler, sending and
// the dispatch of incoming messages.
#include "client_internal.h"

#include <fsroot/fsroot.h>
#include <wlc/platform_values.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using ubuswire::Message;
using ubuswire::ReadResult;

namespace ubusclient {

namespace {

constexpr int kSendWaitMs = 5000;

int open_socket(const char *path)
{
	std::string where = path ? std::string(path) : wlc::root_path(wlc::platform::kBusSocket);
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	if (where.size() >= sizeof(addr.sun_path))
		return -1;
	std::memcpy(addr.sun_path, where.c_str(), where.size() + 1);
	int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
	if (fd < 0)
		return -1;
	if (connect(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) < 0) {
		close(fd);
		return -1;
	}
	return fd;
}

// Waits for the daemon's greeting, which carries our client id.
bool read_hello(ubus_context *ctx)
{
	Message msg;
	for (;;) {
		ReadResult r = io_of(ctx).reader.read(ctx->sock.fd, msg);
		if (r == ReadResult::Message)
			break;
		if (r != ReadResult::Again)
			return false;
		pollfd p = {ctx->sock.fd, POLLIN, 0};
		if (poll(&p, 1, kSendWaitMs) <= 0)
			return false;
	}
	if (msg.type != UBUS_MSG_HELLO)
		return false;
	ctx->local_id = msg.peer;
	if (io_of(ctx).reader.buffered())
		uloop_timeout_set(&ctx->pending_timer, 0);
	return true;
}

void dispatch(ubus_context *ctx, Message &msg)
{
	blob_attr *tb[UBUS_ATTR_MAX];
	if (!ubuswire::parse_attrs(msg, tb))
		return;
	switch (msg.type) {
	case UBUS_MSG_STATUS:
	case UBUS_MSG_DATA:
		handle_reply(ctx, msg, tb);
		break;
	case UBUS_MSG_INVOKE:
		if (ctx->stack_depth > 0) {
			io_of(ctx).queued.push_back(std::move(msg));
			return;
		}
		ctx->stack_depth++;
		handle_invoke(ctx, msg, tb);
		ctx->stack_depth--;
		break;
	default:
		break;
	}
}

void connection_gone(ubus_context *ctx)
{
	Io &io = io_of(ctx);
	if (io.notified)
		return;
	io.lost = io.notified = true;
	ctx->sock.eof = true;
	uloop_fd_delete(&ctx->sock);
	fail_requests(ctx, UBUS_STATUS_CONNECTION_FAILED);
	if (ctx->connection_lost)
		ctx->connection_lost(ctx);
}

void on_socket(uloop_fd *fd, unsigned int)
{
	ubus_context *ctx = container_of(fd, ubus_context, sock);
	if (!read_messages(ctx))
		connection_gone(ctx);
}

void on_queued(uloop_timeout *t)
{
	ubus_context *ctx = container_of(t, ubus_context, pending_timer);
	Io &io = io_of(ctx);
	if (io.lost) {
		connection_gone(ctx);
		return;
	}
	while (!io.queued.empty() && ctx->stack_depth == 0) {
		Message msg = std::move(io.queued.front());
		io.queued.pop_front();
		dispatch(ctx, msg);
	}
	// Messages that came with the greeting wait in the reader: the socket
	// will not show them.
	if (ctx->stack_depth == 0 && io.reader.buffered() && !read_messages(ctx))
		connection_gone(ctx);
}

int init_context(ubus_context *ctx, const char *path)
{
	std::memset(ctx, 0, sizeof(*ctx));
	INIT_LIST_HEAD(&ctx->requests);
	INIT_LIST_HEAD(&ctx->objects);
	INIT_LIST_HEAD(&ctx->pending);
	ctx->sock.cb = on_socket;
	ctx->pending_timer.cb = on_queued;
	ctx->io = new (std::nothrow) Io;
	if (!ctx->io)
		return -1;
	ctx->sock.fd = open_socket(path);
	if (ctx->sock.fd < 0 || !read_hello(ctx)) {
		if (ctx->sock.fd >= 0)
			close(ctx->sock.fd);
		ctx->sock.fd = -1;
		delete &io_of(ctx);
		ctx->io = nullptr;
		return -1;
	}
	return 0;
}

// Registers again every object the connection had: the new daemon knows
// neither their ids nor their types.
void refresh_objects(ubus_context *ctx)
{
	std::vector<ubus_object *> objs;
	ubus_object *obj, *tmp;
	list_for_each_entry_safe(obj, tmp, &ctx->objects, list) {
		list_del_init(&obj->list);
		if (obj->type)
			obj->type->id = 0;
		obj->id = 0;
		objs.push_back(obj);
	}
	for (ubus_object *o : objs)
		(void)ubus_add_object(ctx, o);
}

} // namespace

void mark_lost(ubus_context *ctx)
{
	io_of(ctx).lost = true;
	uloop_timeout_set(&ctx->pending_timer, 0);
}

bool read_messages(ubus_context *ctx)
{
	for (;;) {
		Message msg;
		ReadResult r = io_of(ctx).reader.read(ctx->sock.fd, msg);
		if (r == ReadResult::Again)
			break;
		if (r != ReadResult::Message)
			return false;
		dispatch(ctx, msg);
		if (io_of(ctx).lost)
			return false;
		// What the socket held has been handled: no receive just to learn
		// that it would block. A socket that reported the daemon's end is
		// no longer watched, so it is read up to that end.
		if (io_of(ctx).reader.drained() && !ctx->sock.eof && !ctx->sock.error)
			break;
	}
	if (ctx->stack_depth == 0 && !io_of(ctx).queued.empty())
		uloop_timeout_set(&ctx->pending_timer, 0);
	return true;
}

namespace {

int write_all(ubus_context *ctx, ubuswire::Outgoing &out)
{
	for (;;) {
		ubuswire::WriteResult r = ubuswire::write_some(ctx->sock.fd, out);
		if (r == ubuswire::WriteResult::Done)
			return 0;
		pollfd p = {ctx->sock.fd, POLLOUT, 0};
		if (r == ubuswire::WriteResult::Error || poll(&p, 1, kSendWaitMs) <= 0)
			return -1;
	}
}

} // namespace

void send_held(ubus_context *ctx)
{
	Io &io = io_of(ctx);
	if (io.held.empty())
		return;
	ubuswire::Outgoing out;
	out.bytes.swap(io.held);
	if (!io.lost)
		(void)write_all(ctx, out);
}

int send_msg(ubus_context *ctx, uint8_t type, uint16_t seq, uint32_t peer, const blob_attr *attrs, int fd)
{
	Io &io = io_of(ctx);
	ubuswire::Outgoing out = ubuswire::encode(type, seq, peer, attrs, fd);
	if (io.corked && fd < 0 && type == UBUS_MSG_DATA) {
		io.held.insert(io.held.end(), out.bytes.begin(), out.bytes.end());
		return 0;
	}
	// Held replies go first: in the same write, unless this message passes
	// a descriptor, which goes with its own bytes only.
	if (!io.held.empty() && fd >= 0) {
		send_held(ctx);
	} else if (!io.held.empty()) {
		io.held.insert(io.held.end(), out.bytes.begin(), out.bytes.end());
		out.bytes.swap(io.held);
		io.held.clear();
	}
	int ret = write_all(ctx, out);
	if (fd >= 0)
		close(fd);
	return ret;
}

} // namespace ubusclient

using namespace ubusclient;

extern "C" {

int ubus_connect_ctx(ubus_context *ctx, const char *path)
{
	return init_context(ctx, path);
}

ubus_context *ubus_connect(const char *path)
{
	auto *ctx = static_cast<ubus_context *>(std::calloc(1, sizeof(ubus_context)));
	if (!ctx)
		return nullptr;
	if (init_context(ctx, path) < 0) {
		std::free(ctx);
		return nullptr;
	}
	return ctx;
}

int ubus_reconnect(ubus_context *ctx, const char *path)
{
	// Like the platform's library: the old socket goes, the new one is not
	// watched (the caller adds it to the loop), and the objects are re-added.
	int fd = open_socket(path);
	if (fd < 0)
		return UBUS_STATUS_CONNECTION_FAILED;
	uloop_fd_delete(&ctx->sock);
	if (ctx->sock.fd >= 0)
		close(ctx->sock.fd);
	if (ctx->io)
		delete &io_of(ctx);
	ctx->io = new (std::nothrow) Io;
	if (!ctx->io) {
		close(fd);
		ctx->sock.fd = -1;
		return UBUS_STATUS_NO_MEMORY;
	}
	ctx->sock.fd = fd;
	ctx->sock.eof = false;
	ctx->sock.error = false;
	if (!read_hello(ctx))
		return UBUS_STATUS_CONNECTION_FAILED;
	refresh_objects(ctx);
	return UBUS_STATUS_OK;
}

void ubus_shutdown(ubus_context *ctx)
{
	if (!ctx->io)
		return;
	uloop_fd_delete(&ctx->sock);
	uloop_timeout_cancel(&ctx->pending_timer);
	close(ctx->sock.fd);
	ctx->sock.fd = -1;
	delete &io_of(ctx);
	ctx->io = nullptr;
}

void ubus_free(ubus_context *ctx)
{
	if (!ctx)
		return;
	ubus_shutdown(ctx);
	std::free(ctx);
}

const char *ubus_strerror(int error)
{
	static const char *const texts[] = {
		"Success",
		"Invalid command",
		"Invalid argument",
		"Method not found",
		"Not found",
		"No response",
		"Permission denied",
		"Request timed out",
		"Operation not supported",
		"Unknown error",
		"Connection failed",
		"Out of memory",
		"Parsing message data failed",
		"System error",
	};
	if (error < 0 || error >= static_cast<int>(ARRAY_SIZE(texts)))
		return "Unknown error";
	return texts[error];
}

} // extern "C"
