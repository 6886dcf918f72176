// Requests to the daemon and to remote objects: starting, waiting, replies,
// lookups and invokes.
#include "client_internal.h"

#include <wlc/platform_values.h>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <time.h>

using ubuswire::Message;

namespace ubusclient {

namespace {

int64_t now_ms()
{
	timespec ts;
	clock_gettime(CLOCK_MONOTONIC, &ts);
	return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

uint64_t request_key(uint16_t seq, uint32_t peer)
{
	return static_cast<uint64_t>(peer) << 16 | seq;
}

// Puts a request on the context's list of waiting ones, and takes it off.
void wait_for_answer(ubus_context *ctx, ubus_request *req)
{
	list_add(&req->list, &ctx->requests);
	Io &io = io_of(ctx);
	io.waiting.emplace(request_key(req->seq, req->peer), std::pair(++io.added, req));
}

void stop_waiting(ubus_request *req)
{
	if (list_empty(&req->list))
		return;
	list_del_init(&req->list);
	if (!req->ctx || !req->ctx->io)
		return;
	auto &waiting = io_of(req->ctx).waiting;
	auto [first, last] = waiting.equal_range(request_key(req->seq, req->peer));
	for (auto it = first; it != last; ++it)
		if (it->second.second == req) {
			waiting.erase(it);
			return;
		}
}

void finish(ubus_request *req, int status)
{
	if (req->status_msg)
		return;
	stop_waiting(req);
	req->status_msg = true;
	req->status_code = status;
	if (req->complete_cb && !req->blocked)
		req->complete_cb(req, status);
}

ubus_request *find_request(ubus_context *ctx, uint16_t seq, uint32_t peer)
{
	// Of two waiting under one number (the numbers wrapped), the newer.
	const std::pair<uint64_t, ubus_request *> *found = nullptr;
	auto [first, last] = io_of(ctx).waiting.equal_range(request_key(seq, peer));
	for (auto it = first; it != last; ++it)
		if (!found || it->second.first > found->first)
			found = &it->second;
	return found ? found->second : nullptr;
}

void lookup_data(ubus_request *req, int, blob_attr *attrs)
{
	blob_attr *tb[UBUS_ATTR_MAX];
	blob_parse(attrs, tb, nullptr, UBUS_ATTR_MAX);
	if (!tb[UBUS_ATTR_OBJID] || !tb[UBUS_ATTR_OBJPATH] ||
	    blob_len(tb[UBUS_ATTR_OBJID]) != 4 ||
	    !blob_check_type(blob_data(tb[UBUS_ATTR_OBJPATH]),
			     static_cast<unsigned int>(blob_len(tb[UBUS_ATTR_OBJPATH])), BLOB_ATTR_STRING))
		return;
	ubus_object_data obj = {};
	obj.id = blob_get_u32(tb[UBUS_ATTR_OBJID]);
	obj.path = blob_get_string(tb[UBUS_ATTR_OBJPATH]);
	if (tb[UBUS_ATTR_OBJTYPE] && blob_len(tb[UBUS_ATTR_OBJTYPE]) == 4)
		obj.type_id = blob_get_u32(tb[UBUS_ATTR_OBJTYPE]);
	obj.signature = tb[UBUS_ATTR_SIGNATURE];
	auto *lookup = static_cast<std::pair<ubus_lookup_handler_t, void *> *>(req->priv);
	lookup->first(req->ctx, &obj, lookup->second);
}

void lookup_id_data(ubus_request *req, int, blob_attr *attrs)
{
	blob_attr *tb[UBUS_ATTR_MAX];
	blob_parse(attrs, tb, nullptr, UBUS_ATTR_MAX);
	if (tb[UBUS_ATTR_OBJID] && blob_len(tb[UBUS_ATTR_OBJID]) == 4)
		*static_cast<uint32_t *>(req->priv) = blob_get_u32(tb[UBUS_ATTR_OBJID]);
}

} // namespace

int start_request(ubus_context *ctx, ubus_request *req, uint8_t type, uint32_t peer,
		  const blob_attr *attrs, int fd)
{
	std::memset(req, 0, sizeof(*req));
	INIT_LIST_HEAD(&req->list);
	INIT_LIST_HEAD(&req->pending);
	req->ctx = ctx;
	req->peer = peer;
	req->fd = -1;
	req->seq = ++ctx->request_seq;
	// Like the platform's library: a message larger than the bus daemon takes
	// is refused here, not sent (the daemon would drop the connection for it).
	if (attrs && blob_pad_len(attrs) > wlc::platform::kBusMaxMessageLength)
		return UBUS_STATUS_INVALID_ARGUMENT;
	if (!ctx->io || io_of(ctx).lost)
		return UBUS_STATUS_CONNECTION_FAILED;
	return send_msg(ctx, type, req->seq, peer, attrs, fd) < 0 ? UBUS_STATUS_CONNECTION_FAILED : 0;
}

void handle_reply(ubus_context *ctx, Message &msg, blob_attr **tb)
{
	ubus_request *req = find_request(ctx, msg.seq, msg.peer);
	if (!req)
		return;
	if (msg.type == UBUS_MSG_DATA) {
		if (req->raw_data_cb)
			req->raw_data_cb(req, UBUS_MSG_DATA, msg.attrs());
		else if (req->data_cb && tb[UBUS_ATTR_DATA])
			req->data_cb(req, UBUS_MSG_DATA, tb[UBUS_ATTR_DATA]);
		return;
	}
	int status = tb[UBUS_ATTR_STATUS] ? blob_get_int32(tb[UBUS_ATTR_STATUS]) : UBUS_STATUS_INVALID_ARGUMENT;
	if (msg.fd >= 0) {
		if (req->fd_cb)
			req->fd_cb(req, msg.take_fd());
		else
			req->fd = msg.take_fd();
	}
	finish(req, status);
}

void fail_requests(ubus_context *ctx, int status)
{
	while (!list_empty(&ctx->requests))
		finish(list_first_entry(&ctx->requests, ubus_request, list), status);
}

} // namespace ubusclient

using namespace ubusclient;

extern "C" {

void ubus_complete_request_async(ubus_context *ctx, ubus_request *req)
{
	if (!list_empty(&req->list) || req->status_msg)
		return;
	if (!ctx->io || io_of(ctx).lost) {
		finish(req, UBUS_STATUS_CONNECTION_FAILED);
		return;
	}
	wait_for_answer(ctx, req);
}

void ubus_abort_request(ubus_context *, ubus_request *req)
{
	stop_waiting(req);
	req->cancelled = true;
}

int ubus_complete_request(ubus_context *ctx, ubus_request *req, int timeout)
{
	if (!ctx->io || io_of(ctx).lost)
		return UBUS_STATUS_CONNECTION_FAILED;
	wait_for_answer(ctx, req);
	req->blocked = true;
	ctx->stack_depth++;
	int64_t deadline = timeout > 0 ? now_ms() + timeout : -1;
	int ret = UBUS_STATUS_OK;
	while (!req->status_msg) {
		int wait = -1;
		if (deadline >= 0) {
			int64_t left = deadline - now_ms();
			if (left <= 0) {
				ret = UBUS_STATUS_TIMEOUT;
				break;
			}
			wait = static_cast<int>(left);
		}
		// Messages already read from the socket come first: it may hold
		// nothing more, and a wait on it would not end.
		pollfd p = {ctx->sock.fd, POLLIN, 0};
		int n = io_of(ctx).reader.buffered() ? 1 : poll(&p, 1, wait);
		if (n < 0 && errno != EINTR) {
			ret = UBUS_STATUS_CONNECTION_FAILED;
			break;
		}
		if (n > 0 && !read_messages(ctx)) {
			mark_lost(ctx);
			ret = UBUS_STATUS_CONNECTION_FAILED;
			break;
		}
	}
	ctx->stack_depth--;
	req->blocked = false;
	if (!req->status_msg) {
		ubus_abort_request(ctx, req);
		req->status_code = ret;
	}
	if (ctx->stack_depth == 0 && !io_of(ctx).queued.empty())
		uloop_timeout_set(&ctx->pending_timer, 0);
	if (req->complete_cb)
		req->complete_cb(req, req->status_code);
	return req->status_code;
}

int ubus_lookup(ubus_context *ctx, const char *path, ubus_lookup_handler_t cb, void *priv)
{
	AttrBuf b;
	if (path)
		blob_put_string(b.get(), UBUS_ATTR_OBJPATH, path);
	ubus_request req;
	int ret = start_request(ctx, &req, UBUS_MSG_LOOKUP, 0, b.head(), -1);
	if (ret)
		return ret;
	std::pair<ubus_lookup_handler_t, void *> lookup(cb, priv);
	req.raw_data_cb = lookup_data;
	req.priv = &lookup;
	return ubus_complete_request(ctx, &req, 0);
}

int ubus_lookup_id(ubus_context *ctx, const char *path, uint32_t *id)
{
	if (!path || !id)
		return UBUS_STATUS_INVALID_ARGUMENT;
	AttrBuf b;
	blob_put_string(b.get(), UBUS_ATTR_OBJPATH, path);
	ubus_request req;
	int ret = start_request(ctx, &req, UBUS_MSG_LOOKUP, 0, b.head(), -1);
	if (ret)
		return ret;
	*id = 0;
	req.raw_data_cb = lookup_id_data;
	req.priv = id;
	ret = ubus_complete_request(ctx, &req, 0);
	if (ret == UBUS_STATUS_OK && *id == 0)
		ret = UBUS_STATUS_NOT_FOUND;
	return ret;
}

int ubus_invoke_async_fd(ubus_context *ctx, uint32_t obj, const char *method, blob_attr *msg,
			 ubus_request *req, int fd)
{
	AttrBuf b;
	blob_put_int32(b.get(), UBUS_ATTR_OBJID, obj);
	blob_put_string(b.get(), UBUS_ATTR_METHOD, method);
	if (msg)
		blob_put(b.get(), UBUS_ATTR_DATA, blob_data(msg), static_cast<unsigned int>(blob_len(msg)));
	return start_request(ctx, req, UBUS_MSG_INVOKE, obj, b.head(), fd);
}

int ubus_invoke_fd(ubus_context *ctx, uint32_t obj, const char *method, blob_attr *msg,
		   ubus_data_handler_t cb, void *priv, int timeout, int fd)
{
	ubus_request req;
	int ret = ubus_invoke_async_fd(ctx, obj, method, msg, &req, fd);
	if (ret)
		return ret;
	req.data_cb = cb;
	req.priv = priv;
	return ubus_complete_request(ctx, &req, timeout);
}

} // extern "C"
