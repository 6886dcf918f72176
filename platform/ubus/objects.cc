// Local objects: registration with the daemon, incoming invokes, replies and
// deferred completion.
#include "client_internal.h"

#include <cstring>
#include <unistd.h>

using ubuswire::Message;

namespace ubusclient {

namespace {

void put_signature(blob_buf *b, const ubus_object_type *type)
{
	void *sig = blob_nest_start(b, UBUS_ATTR_SIGNATURE);
	for (int i = 0; i < type->n_methods; i++) {
		const ubus_method &m = type->methods[i];
		void *table = blobmsg_open_table(b, m.name);
		for (int j = 0; j < m.n_policy; j++)
			if (m.policy[j].name)
				blobmsg_add_u32(b, m.policy[j].name, m.policy[j].type);
		blobmsg_close_table(b, table);
	}
	blob_nest_end(b, sig);
}

void object_added(ubus_request *req, int, blob_attr *attrs)
{
	auto *obj = static_cast<ubus_object *>(req->priv);
	blob_attr *tb[UBUS_ATTR_MAX];
	blob_parse(attrs, tb, nullptr, UBUS_ATTR_MAX);
	if (!tb[UBUS_ATTR_OBJID] || blob_len(tb[UBUS_ATTR_OBJID]) != 4)
		return;
	obj->id = blob_get_u32(tb[UBUS_ATTR_OBJID]);
	if (tb[UBUS_ATTR_OBJTYPE] && blob_len(tb[UBUS_ATTR_OBJTYPE]) == 4 && obj->type)
		obj->type->id = blob_get_u32(tb[UBUS_ATTR_OBJTYPE]);
}

void object_removed(ubus_request *req, int, blob_attr *)
{
	auto *obj = static_cast<ubus_object *>(req->priv);
	obj->id = 0;
}

ubus_object *find_object(ubus_context *ctx, uint32_t id)
{
	ubus_object *obj;
	list_for_each_entry(obj, &ctx->objects, list)
		if (obj->id == id)
			return obj;
	return nullptr;
}

const ubus_method *find_method(const ubus_object *obj, const char *name)
{
	for (int i = 0; i < obj->n_methods; i++)
		if (obj->methods[i].name && std::strcmp(obj->methods[i].name, name) == 0)
			return &obj->methods[i];
	return nullptr;
}

const char *string_attr(blob_attr *attr)
{
	return attr ? blob_get_string(attr) : nullptr;
}

} // namespace

void handle_invoke(ubus_context *ctx, Message &msg, blob_attr **tb)
{
	ubus_request_data req = {};
	req.peer = msg.peer;
	req.seq = msg.seq;
	req.fd = -1;
	req.req_fd = msg.take_fd();
	req.acl.user = string_attr(tb[UBUS_ATTR_USER]);
	req.acl.group = string_attr(tb[UBUS_ATTR_GROUP]);
	int ret;
	bool no_reply = tb[UBUS_ATTR_NO_REPLY] && blob_get_int8(tb[UBUS_ATTR_NO_REPLY]);
	ubus_object *obj = tb[UBUS_ATTR_OBJID] ? find_object(ctx, blob_get_u32(tb[UBUS_ATTR_OBJID])) : nullptr;
	const ubus_method *method = nullptr;
	if (obj) {
		req.object = obj->id;
		req.acl.object = obj->name;
	}
	if (!obj) {
		ret = UBUS_STATUS_NOT_FOUND;
		if (tb[UBUS_ATTR_OBJID])
			req.object = blob_get_u32(tb[UBUS_ATTR_OBJID]);
	} else if (!tb[UBUS_ATTR_METHOD] || !tb[UBUS_ATTR_DATA]) {
		ret = UBUS_STATUS_INVALID_ARGUMENT;
	} else if (!(method = find_method(obj, blob_get_string(tb[UBUS_ATTR_METHOD]))) || !method->handler) {
		ret = UBUS_STATUS_METHOD_NOT_FOUND;
	} else {
		io_of(ctx).corked = true;
		ret = method->handler(ctx, obj, &req, method->name, tb[UBUS_ATTR_DATA]);
		io_of(ctx).corked = false;
	}
	if (req.req_fd >= 0)
		close(req.req_fd);
	if (!req.deferred && !no_reply)
		ubus_complete_deferred_request(ctx, &req, ret);
	send_held(ctx);
}

} // namespace ubusclient

using namespace ubusclient;

extern "C" {

int ubus_add_object(ubus_context *ctx, ubus_object *obj)
{
	AttrBuf b;
	if (obj->name)
		blob_put_string(b.get(), UBUS_ATTR_OBJPATH, obj->name);
	if (obj->type) {
		if (obj->type->id)
			blob_put_int32(b.get(), UBUS_ATTR_OBJTYPE, obj->type->id);
		else
			put_signature(b.get(), obj->type);
	}
	ubus_request req;
	int ret = start_request(ctx, &req, UBUS_MSG_ADD_OBJECT, 0, b.head(), -1);
	if (ret)
		return ret;
	req.raw_data_cb = object_added;
	req.priv = obj;
	ret = ubus_complete_request(ctx, &req, 0);
	if (ret) {
		// The daemon may have sent an id before failing: the object is not
		// registered here, and removing it must not touch the object list.
		obj->id = 0;
		return ret;
	}
	if (!obj->id)
		return UBUS_STATUS_NO_DATA;
	if (!obj->methods && obj->type) {
		obj->methods = obj->type->methods;
		obj->n_methods = obj->type->n_methods;
	}
	list_add_tail(&obj->list, &ctx->objects);
	return 0;
}

int ubus_remove_object(ubus_context *ctx, ubus_object *obj)
{
	if (!obj->id)
		return UBUS_STATUS_NOT_FOUND;
	AttrBuf b;
	blob_put_int32(b.get(), UBUS_ATTR_OBJID, obj->id);
	ubus_request req;
	int ret = start_request(ctx, &req, UBUS_MSG_REMOVE_OBJECT, 0, b.head(), -1);
	if (ret == 0) {
		req.raw_data_cb = object_removed;
		req.priv = obj;
		ret = ubus_complete_request(ctx, &req, 0);
	}
	// Whatever the daemon said, the object no longer answers here.
	list_del_init(&obj->list);
	obj->id = 0;
	return ret;
}

int ubus_send_reply(ubus_context *ctx, ubus_request_data *req, blob_attr *msg)
{
	AttrBuf b;
	blob_put_int32(b.get(), UBUS_ATTR_OBJID, req->object);
	blob_put(b.get(), UBUS_ATTR_DATA, blob_data(msg), static_cast<unsigned int>(blob_len(msg)));
	if (!ctx->io || io_of(ctx).lost)
		return UBUS_STATUS_CONNECTION_FAILED;
	return send_msg(ctx, UBUS_MSG_DATA, req->seq, req->peer, b.head(), -1) < 0 ? UBUS_STATUS_NO_DATA : 0;
}

void ubus_complete_deferred_request(ubus_context *ctx, ubus_request_data *req, int ret)
{
	AttrBuf b;
	blob_put_int32(b.get(), UBUS_ATTR_STATUS, ret);
	blob_put_int32(b.get(), UBUS_ATTR_OBJID, req->object);
	int fd = req->fd;
	req->fd = -1;
	if (!ctx->io || io_of(ctx).lost) {
		if (fd >= 0)
			close(fd);
		return;
	}
	send_msg(ctx, UBUS_MSG_STATUS, req->seq, req->peer, b.head(), fd);
}

} // extern "C"
