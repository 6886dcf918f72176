// Message handlers of the bus daemon: lookups, object registration and
// removal, invokes and the replies that travel back to the caller.
#include "daemon.h"

#include <wlc/c/ubox.h>

#include <cstring>

namespace ubusd {

using ubuswire::AttrBuf;

namespace {

// A signature is a list of named tables (one per method) of named INT32
// fields (argument name and type).
bool valid_signature(blob_attr *sig)
{
	blob_attr *method;
	size_t rem;
	blob_for_each_attr(method, sig, rem) {
		if (blobmsg_type(method) != BLOBMSG_TYPE_TABLE || !blobmsg_check_attr(method, true))
			return false;
		blob_attr *arg;
		size_t arg_rem;
		blobmsg_for_each_attr(arg, method, arg_rem)
			if (blobmsg_type(arg) != BLOBMSG_TYPE_INT32 || !blobmsg_check_attr(arg, true))
				return false;
	}
	return rem == 0;
}

bool path_matches(const std::string &pattern, const std::string &path)
{
	if (!pattern.empty() && pattern.back() == '*')
		return path.compare(0, pattern.size() - 1, pattern, 0, pattern.size() - 1) == 0;
	return pattern == path;
}

} // namespace

void Daemon::send_status(Client *cl, const ubuswire::Message &msg, int status)
{
	AttrBuf b;
	blob_put_int32(b.get(), UBUS_ATTR_STATUS, status);
	send(cl, UBUS_MSG_STATUS, msg.seq, msg.peer, b.head());
}

void Daemon::handle(Client *cl, ubuswire::Message &msg)
{
	blob_attr *tb[UBUS_ATTR_MAX];
	if (!ubuswire::parse_attrs(msg, tb)) {
		send_status(cl, msg, UBUS_STATUS_INVALID_ARGUMENT);
		return;
	}
	int status;
	switch (msg.type) {
	case UBUS_MSG_PING:
		send(cl, UBUS_MSG_DATA, msg.seq, msg.peer, nullptr);
		status = UBUS_STATUS_OK;
		break;
	case UBUS_MSG_LOOKUP:
		status = handle_lookup(cl, msg, tb);
		break;
	case UBUS_MSG_ADD_OBJECT:
		status = handle_add_object(cl, msg, tb);
		break;
	case UBUS_MSG_REMOVE_OBJECT:
		status = handle_remove_object(cl, msg, tb);
		break;
	case UBUS_MSG_INVOKE:
		status = handle_invoke(cl, msg, tb);
		break;
	case UBUS_MSG_STATUS:
	case UBUS_MSG_DATA:
		status = handle_response(cl, msg, tb);
		break;
	default:
		status = UBUS_STATUS_INVALID_COMMAND;
		break;
	}
	if (status >= 0)
		send_status(cl, msg, status);
}

void Daemon::send_object_data(Client *cl, const ubuswire::Message &msg, const Object &obj)
{
	AttrBuf b;
	blob_put_string(b.get(), UBUS_ATTR_OBJPATH, obj.path.c_str());
	blob_put_int32(b.get(), UBUS_ATTR_OBJID, obj.id);
	if (obj.type) {
		blob_put_int32(b.get(), UBUS_ATTR_OBJTYPE, obj.type->id);
		const auto *sig = reinterpret_cast<const blob_attr *>(obj.type->signature.data());
		blob_put(b.get(), UBUS_ATTR_SIGNATURE, blob_data(sig), static_cast<unsigned int>(blob_len(sig)));
	}
	send(cl, UBUS_MSG_DATA, msg.seq, msg.peer, b.head());
}

int Daemon::handle_lookup(Client *cl, const ubuswire::Message &msg, blob_attr **tb)
{
	std::string pattern = tb[UBUS_ATTR_OBJPATH] ? blob_get_string(tb[UBUS_ATTR_OBJPATH]) : "*";
	bool found = false;
	// An empty path names no object (and has no last character to look at).
	bool prefix = !pattern.empty() && pattern.back() == '*';
	auto it = prefix ? paths_.lower_bound(pattern.substr(0, pattern.size() - 1)) : paths_.find(pattern);
	for (; it != paths_.end() && path_matches(pattern, it->first); ++it) {
		send_object_data(cl, msg, *it->second);
		found = true;
		if (cl->dead)
			return -1;
	}
	return found ? UBUS_STATUS_OK : UBUS_STATUS_NOT_FOUND;
}

ObjectType *Daemon::make_type(blob_attr *signature)
{
	if (!valid_signature(signature))
		return nullptr;
	auto type = std::make_unique<ObjectType>();
	type->id = new_id();
	size_t words = (blob_pad_len(signature) + 3) / 4;
	type->signature.assign(words, 0);
	std::memcpy(type->signature.data(), signature, blob_raw_len(signature));
	ObjectType *raw = type.get();
	types_[raw->id] = std::move(type);
	return raw;
}

void Daemon::release_type(ObjectType *type)
{
	if (type && --type->refs == 0)
		types_.erase(type->id);
}

int Daemon::handle_add_object(Client *cl, const ubuswire::Message &msg, blob_attr **tb)
{
	std::string path = tb[UBUS_ATTR_OBJPATH] ? blob_get_string(tb[UBUS_ATTR_OBJPATH]) : "";
	if (!path.empty() && paths_.count(path))
		return UBUS_STATUS_INVALID_ARGUMENT;
	ObjectType *type = nullptr;
	if (tb[UBUS_ATTR_SIGNATURE]) {
		type = make_type(tb[UBUS_ATTR_SIGNATURE]);
		if (!type)
			return UBUS_STATUS_INVALID_ARGUMENT;
	} else if (tb[UBUS_ATTR_OBJTYPE]) {
		auto it = types_.find(blob_get_u32(tb[UBUS_ATTR_OBJTYPE]));
		if (it == types_.end())
			return UBUS_STATUS_INVALID_ARGUMENT;
		type = it->second.get();
	}
	auto obj = std::make_unique<Object>();
	obj->id = new_id();
	obj->path = path;
	obj->owner = cl;
	obj->type = type;
	if (type)
		type->refs++;
	Object *raw = obj.get();
	objects_[raw->id] = std::move(obj);
	if (!path.empty())
		paths_[path] = raw;

	AttrBuf b;
	blob_put_int32(b.get(), UBUS_ATTR_OBJID, raw->id);
	if (tb[UBUS_ATTR_SIGNATURE])
		blob_put_int32(b.get(), UBUS_ATTR_OBJTYPE, type->id);
	send(cl, UBUS_MSG_DATA, msg.seq, msg.peer, b.head());
	return UBUS_STATUS_OK;
}

void Daemon::remove_object(Object *obj)
{
	// Callers still waiting on this object learn at once that it is gone.
	AttrBuf b;
	blob_put_int32(b.get(), UBUS_ATTR_STATUS, UBUS_STATUS_NOT_FOUND);
	blob_put_int32(b.get(), UBUS_ATTR_OBJID, obj->id);
	for (const auto &[caller, seq] : obj->pending) {
		auto it = clients_.find(caller);
		if (it != clients_.end())
			send(it->second.get(), UBUS_MSG_STATUS, seq, obj->id, b.head());
	}
	if (!obj->path.empty())
		paths_.erase(obj->path);
	release_type(obj->type);
	objects_.erase(obj->id);
}

int Daemon::handle_remove_object(Client *cl, const ubuswire::Message &msg, blob_attr **tb)
{
	if (!tb[UBUS_ATTR_OBJID])
		return UBUS_STATUS_INVALID_ARGUMENT;
	auto it = objects_.find(blob_get_u32(tb[UBUS_ATTR_OBJID]));
	if (it == objects_.end())
		return UBUS_STATUS_NOT_FOUND;
	Object *obj = it->second.get();
	if (obj->owner != cl)
		return UBUS_STATUS_PERMISSION_DENIED;
	AttrBuf b;
	blob_put_int32(b.get(), UBUS_ATTR_OBJID, obj->id);
	if (obj->type)
		blob_put_int32(b.get(), UBUS_ATTR_OBJTYPE, obj->type->id);
	remove_object(obj);
	send(cl, UBUS_MSG_DATA, msg.seq, msg.peer, b.head());
	return UBUS_STATUS_OK;
}

int Daemon::handle_invoke(Client *cl, ubuswire::Message &msg, blob_attr **tb)
{
	if (!tb[UBUS_ATTR_METHOD])
		return UBUS_STATUS_INVALID_ARGUMENT;
	auto it = objects_.find(msg.peer);
	if (it == objects_.end() || it->second->owner->dead)
		return UBUS_STATUS_NOT_FOUND;
	Object *obj = it->second.get();
	AttrBuf b;
	blob_put_int32(b.get(), UBUS_ATTR_OBJID, obj->id);
	blob_put_string(b.get(), UBUS_ATTR_METHOD, blob_get_string(tb[UBUS_ATTR_METHOD]));
	if (!cl->user.empty())
		blob_put_string(b.get(), UBUS_ATTR_USER, cl->user.c_str());
	if (!cl->group.empty())
		blob_put_string(b.get(), UBUS_ATTR_GROUP, cl->group.c_str());
	if (tb[UBUS_ATTR_DATA])
		blob_put(b.get(), UBUS_ATTR_DATA, blob_data(tb[UBUS_ATTR_DATA]),
			 static_cast<unsigned int>(blob_len(tb[UBUS_ATTR_DATA])));
	bool no_reply = tb[UBUS_ATTR_NO_REPLY] && blob_get_int8(tb[UBUS_ATTR_NO_REPLY]);
	if (no_reply)
		blob_put_int8(b.get(), UBUS_ATTR_NO_REPLY, 1);
	else
		obj->pending.emplace(cl->id, msg.seq);
	send(obj->owner, UBUS_MSG_INVOKE, msg.seq, cl->id, b.head(), msg.fd);
	return -1;
}

int Daemon::handle_response(Client *cl, ubuswire::Message &msg, blob_attr **tb)
{
	if (!tb[UBUS_ATTR_OBJID])
		return -1;
	auto it = objects_.find(blob_get_u32(tb[UBUS_ATTR_OBJID]));
	if (it == objects_.end() || it->second->owner != cl)
		return -1;
	Object *obj = it->second.get();
	if (msg.type == UBUS_MSG_STATUS)
		obj->pending.erase({msg.peer, msg.seq});
	auto target = clients_.find(msg.peer);
	if (target == clients_.end())
		return -1;
	send(target->second.get(), msg.type, msg.seq, obj->id, msg.attrs(), msg.fd);
	return -1;
}

} // namespace ubusd
