// A bus service for the bus tests, run as its own process.
//   bus_test_server -s <socket> [-c]
// Always serves "test" (hello, watch, count, as the platform's example server
// does) and an anonymous object; without -c also "svc" with methods that
// exercise deferred replies, several replies, descriptors, errors and a
// service that dies in the middle of a call.
#include <wlc/c/ubox.h>
#include <wlc/c/ubus.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

ubus_context *ctx;
blob_buf reply;

enum { HELLO_ID, HELLO_MSG, HELLO_MAX };
const blobmsg_policy hello_policy[] = {{"id", BLOBMSG_TYPE_INT32}, {"msg", BLOBMSG_TYPE_STRING}};
const blobmsg_policy watch_policy[] = {{"id", BLOBMSG_TYPE_INT32}, {"counter", BLOBMSG_TYPE_INT32}};
const blobmsg_policy count_policy[] = {{"to", BLOBMSG_TYPE_INT32}, {"string", BLOBMSG_TYPE_STRING}};

// Hands the caller the read end of a pipe holding the text.
int pipe_with(const char *text)
{
	int p[2];
	if (pipe(p) < 0)
		return -1;
	if (write(p[1], text, std::strlen(text)) < 0) {
		close(p[0]);
		close(p[1]);
		return -1;
	}
	close(p[1]);
	return p[0];
}

int hello(ubus_context *c, ubus_object *, ubus_request_data *req, const char *, blob_attr *msg)
{
	blob_attr *tb[HELLO_MAX];
	blobmsg_parse(hello_policy, HELLO_MAX, tb, blob_data(msg), static_cast<unsigned int>(blob_len(msg)));
	std::string text = "test received a message: ";
	text += tb[HELLO_MSG] ? blobmsg_get_string(tb[HELLO_MSG]) : "(unknown)";
	blob_buf_init(&reply, 0);
	blobmsg_add_string(&reply, "message", text.c_str());
	ubus_send_reply(c, req, reply.head);
	ubus_request_set_fd(c, req, pipe_with("hello\n"));
	return 0;
}

int unused_method(ubus_context *, ubus_object *, ubus_request_data *, const char *, blob_attr *)
{
	return UBUS_STATUS_NOT_SUPPORTED;
}

const ubus_method test_methods[] = {
	UBUS_METHOD("hello", hello, hello_policy),
	UBUS_METHOD("watch", unused_method, watch_policy),
	UBUS_METHOD("count", unused_method, count_policy),
};
ubus_object_type test_type = UBUS_OBJECT_TYPE("test", test_methods);
ubus_object test_object = {};
ubus_object anonymous = {};

struct Deferred {
	uloop_timeout timer;
	ubus_request_data req;
};
Deferred deferred;

void complete_deferred(uloop_timeout *t)
{
	Deferred *d = container_of(t, Deferred, timer);
	blob_buf_init(&reply, 0);
	blobmsg_add_string(&reply, "state", "done late");
	ubus_send_reply(ctx, &d->req, reply.head);
	ubus_complete_deferred_request(ctx, &d->req, 0);
}

int echo(ubus_context *c, ubus_object *, ubus_request_data *req, const char *, blob_attr *msg)
{
	blob_buf_init(&reply, 0);
	blob_attr *pos;
	size_t rem;
	blob_for_each_attr(pos, msg, rem)
		blobmsg_add_blob(&reply, pos);
	ubus_send_reply(c, req, reply.head);
	return 0;
}

int defer(ubus_context *c, ubus_object *, ubus_request_data *req, const char *, blob_attr *)
{
	ubus_defer_request(c, req, &deferred.req);
	deferred.timer.cb = complete_deferred;
	uloop_timeout_set(&deferred.timer, 50);
	return 0;
}

int never(ubus_context *c, ubus_object *, ubus_request_data *req, const char *, blob_attr *)
{
	static ubus_request_data parked;
	ubus_defer_request(c, req, &parked);
	return 0;
}

int multi(ubus_context *c, ubus_object *, ubus_request_data *req, const char *, blob_attr *)
{
	for (uint32_t i = 0; i < 3; i++) {
		blob_buf_init(&reply, 0);
		blobmsg_add_u32(&reply, "part", i);
		ubus_send_reply(c, req, reply.head);
	}
	return 0;
}

int give_fd(ubus_context *c, ubus_object *, ubus_request_data *req, const char *, blob_attr *)
{
	ubus_request_set_fd(c, req, pipe_with("from the service"));
	return 0;
}

int read_caller_fd(ubus_context *c, ubus_object *, ubus_request_data *req, const char *, blob_attr *)
{
	int fd = ubus_request_get_caller_fd(req);
	if (fd < 0)
		return UBUS_STATUS_INVALID_ARGUMENT;
	char buf[128] = {};
	ssize_t n = read(fd, buf, sizeof(buf) - 1);
	close(fd);
	blob_buf_init(&reply, 0);
	blobmsg_add_string(&reply, "read", n > 0 ? buf : "");
	ubus_send_reply(c, req, reply.head);
	return 0;
}

int fail(ubus_context *, ubus_object *, ubus_request_data *, const char *, blob_attr *)
{
	return UBUS_STATUS_INVALID_ARGUMENT;
}

int die(ubus_context *, ubus_object *, ubus_request_data *, const char *, blob_attr *)
{
	_exit(3);
}

const ubus_method svc_methods[] = {
	UBUS_METHOD_NOARG("echo", echo),
	UBUS_METHOD_NOARG("defer", defer),
	UBUS_METHOD_NOARG("never", never),
	UBUS_METHOD_NOARG("multi", multi),
	UBUS_METHOD_NOARG("fd", give_fd),
	UBUS_METHOD_NOARG("caller_fd", read_caller_fd),
	UBUS_METHOD_NOARG("fail", fail),
	UBUS_METHOD_NOARG("die", die),
};
ubus_object_type svc_type = UBUS_OBJECT_TYPE("svc", svc_methods);
ubus_object svc_object = {};

} // namespace

int main(int argc, char **argv)
{
	const char *socket = nullptr;
	bool capture_only = false;
	int ch;
	while ((ch = getopt(argc, argv, "s:c")) != -1) {
		if (ch == 's')
			socket = optarg;
		else if (ch == 'c')
			capture_only = true;
	}
	uloop_init();
	ctx = ubus_connect(socket);
	if (!ctx)
		return 1;
	ubus_add_uloop(ctx);
	test_object.name = "test";
	test_object.type = &test_type;
	test_object.methods = test_methods;
	test_object.n_methods = static_cast<int>(ARRAY_SIZE(test_methods));
	if (ubus_add_object(ctx, &test_object) || ubus_add_object(ctx, &anonymous))
		return 2;
	if (!capture_only) {
		svc_object.name = "svc";
		svc_object.type = &svc_type;
		svc_object.methods = svc_methods;
		svc_object.n_methods = static_cast<int>(ARRAY_SIZE(svc_methods));
		if (ubus_add_object(ctx, &svc_object))
			return 2;
	}
	uloop_run();
	ubus_free(ctx);
	blob_buf_free(&reply);
	uloop_done();
	return 0;
}
