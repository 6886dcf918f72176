// Answering JSON-RPC requests over the bus.
#include "rpc.h"

#include <json-c/json.h>

#include <array>
#include <memory>

namespace siteview {

namespace {

constexpr int kMaxDepth = 32;

using Json = std::unique_ptr<json_object, decltype(&json_object_put)>;

struct ErrorText {
	int code;
	const char *message;
};

ErrorText error_text(RpcError e)
{
	switch (e) {
	case RpcError::parse: return {-32700, "Parse error"};
	case RpcError::request: return {-32600, "Invalid request"};
	case RpcError::method: return {-32601, "Method not found"};
	case RpcError::params: return {-32602, "Invalid parameters"};
	case RpcError::internal: return {-32603, "Internal error"};
	case RpcError::object: return {-32000, "Object not found"};
	case RpcError::session: return {-32001, "Session not found"};
	case RpcError::access: return {-32002, "Access denied"};
	case RpcError::timeout: return {-32003, "ubus request timed out"};
	}
	return {-32603, "Internal error"};
}

std::string text_of(json_object *obj)
{
	return obj ? json_object_to_json_string_ext(obj, JSON_C_TO_STRING_PLAIN) : "null";
}

std::string response(const std::string &id_json, const std::string &result_json)
{
	return R"({"jsonrpc":"2.0","id":)" + id_json + R"(,"result":)" + result_json + "}";
}

json_object *member(json_object *obj, const char *name)
{
	json_object *v = nullptr;
	return json_object_object_get_ex(obj, name, &v) ? v : nullptr;
}

const char *string_at(json_object *array, size_t i)
{
	json_object *v = json_object_array_get_idx(array, i);
	return v && json_object_is_type(v, json_type_string) ? json_object_get_string(v) : nullptr;
}

Json parse_body(std::string_view body)
{
	std::unique_ptr<json_tokener, decltype(&json_tokener_free)> tok(json_tokener_new_ex(kMaxDepth),
									   json_tokener_free);
	if (!tok || body.size() > kMaxRequestBytes)
		return {nullptr, json_object_put};
	json_object *obj = json_tokener_parse_ex(tok.get(), body.data(), static_cast<int>(body.size()));
	if (json_tokener_get_error(tok.get()) != json_tokener_success ||
	    json_tokener_get_parse_end(tok.get()) != body.size()) {
		json_object_put(obj);
		obj = nullptr;
	}
	return {obj, json_object_put};
}

// A method signature's argument types as the web server names them.
const char *type_name(uint32_t type)
{
	switch (type) {
	case BLOBMSG_TYPE_INT8: return "boolean";
	case BLOBMSG_TYPE_INT32: return "number";
	case BLOBMSG_TYPE_STRING: return "string";
	case BLOBMSG_TYPE_ARRAY: return "array";
	case BLOBMSG_TYPE_TABLE: return "object";
	default: return "unknown";
	}
}

// ubus_lookup's answers, collected as JSON.
struct ListResult {
	json_object *out;
	bool verbose;
};

json_object *signature_json(blob_attr *signature)
{
	json_object *methods = json_object_new_object();
	blob_attr *sig;
	size_t rem;
	blob_for_each_attr(sig, signature, rem) {
		if (!wlc::name_fits(sig))
			continue;
		json_object *args = json_object_new_object();
		blob_attr *arg;
		size_t rem2 = blobmsg_data_len(sig);
		__blob_for_each_attr(arg, blobmsg_data(sig), rem2) {
			if (blob_id(arg) == BLOBMSG_TYPE_INT32 && wlc::name_fits(arg) && blobmsg_data_len(arg) >= 4)
				json_object_object_add(args, blobmsg_name(arg),
						       json_object_new_string(type_name(blobmsg_get_u32(arg))));
		}
		json_object_object_add(methods, blobmsg_name(sig), args);
	}
	return methods;
}

void on_object(ubus_context *, ubus_object_data *obj, void *priv) noexcept
{
	auto *r = static_cast<ListResult *>(priv);
	if (!r->verbose)
		json_object_array_add(r->out, json_object_new_string(obj->path));
	else if (obj->signature)
		json_object_object_add(r->out, obj->path, signature_json(obj->signature));
}

} // namespace

std::string error_response(RpcError e, const std::string &id_json)
{
	ErrorText t = error_text(e);
	return R"({"jsonrpc":"2.0","id":)" + id_json + R"(,"error":{"code":)" + std::to_string(t.code) +
	       R"(,"message":")" + t.message + R"("}})";
}

std::string Gateway::handle(std::string_view body)
{
	Json req = parse_body(body);
	if (!req)
		return error_response(RpcError::parse, "null");
	if (!json_object_is_type(req.get(), json_type_array))
		return handle_one(req.get());
	std::string out = "[";
	for (size_t i = 0, n = json_object_array_length(req.get()); i < n; i++)
		out += (i ? "," : "") + handle_one(json_object_array_get_idx(req.get(), i));
	return out + "]";
}

std::string Gateway::handle_one(json_object *request)
{
	if (!request || !json_object_is_type(request, json_type_object))
		return error_response(RpcError::request, "null");
	const std::string id = text_of(member(request, "id"));
	json_object *version = member(request, "jsonrpc");
	json_object *method = member(request, "method");
	if (!version || !json_object_is_type(version, json_type_string) ||
	    std::string_view(json_object_get_string(version)) != "2.0" || !method ||
	    !json_object_is_type(method, json_type_string))
		return error_response(RpcError::request, id);
	const std::string_view name = json_object_get_string(method);
	if (name == "call")
		return handle_call(member(request, "params"), id);
	if (name == "list")
		return handle_list(member(request, "params"), id);
	return error_response(RpcError::method, id);
}

std::string Gateway::handle_call(json_object *params, const std::string &id)
{
	if (!params || !json_object_is_type(params, json_type_array) || json_object_array_length(params) != 4)
		return error_response(RpcError::params, id);
	const char *session = string_at(params, 0);
	const char *object = string_at(params, 1);
	const char *function = string_at(params, 2);
	json_object *args = json_object_array_get_idx(params, 3);
	if (!session || !object || !function || !args || !json_object_is_type(args, json_type_object) ||
	    member(args, "ubus_rpc_session"))
		return error_response(RpcError::params, id);
	uint32_t target = bus_.lookup(object);
	if (target == 0)
		return error_response(RpcError::object, id);
	if (!allowed(session, object, function))
		return error_response(RpcError::access, id);
	wlc::BlobBuf msg;
	if (!msg.add_json(text_of(args)))
		return error_response(RpcError::params, id);
	msg.add("ubus_rpc_session", session);
	std::string data;
	int status = invoke(target, function, msg, &data);
	if (status == UBUS_STATUS_TIMEOUT)
		return error_response(RpcError::timeout, id);
	std::string result = "[" + std::to_string(status) + (data.empty() ? "" : "," + data) + "]";
	return response(id, result);
}

std::string Gateway::handle_list(json_object *params, const std::string &id)
{
	if (params && !json_object_is_type(params, json_type_array))
		return error_response(RpcError::params, id);
	const size_t n = params ? json_object_array_length(params) : 0;
	for (size_t i = 0; i < n; i++)
		if (!string_at(params, i))
			return error_response(RpcError::params, id);
	if (!bus_.online())
		return error_response(RpcError::internal, id);
	ListResult r{params ? json_object_new_object() : json_object_new_array(), params != nullptr};
	Json out(r.out, json_object_put);
	if (!params && ubus_lookup(bus_.ctx(), nullptr, on_object, &r) != 0)
		return error_response(RpcError::internal, id);
	for (size_t i = 0; i < n; i++)
		ubus_lookup(bus_.ctx(), string_at(params, i), on_object, &r);
	return response(id, text_of(out.get()));
}

bool Gateway::allowed(const std::string &session, const std::string &object, const std::string &function)
{
	uint32_t sessions = bus_.lookup("session");
	if (sessions == 0)
		return false;
	wlc::BlobBuf msg;
	msg.add("ubus_rpc_session", session).add("scope", "ubus").add("object", object).add("function", function);
	bool granted = false;
	int status = bus_.call(sessions, "access", msg,
			       [&](blob_attr *reply) {
				       wlc::Fields<1> f;
				       if (f.parse({{{"access", BLOBMSG_TYPE_BOOL}}}, reply))
					       granted = f.boolean(0).value_or(false);
			       },
			       timeout_ms_);
	return status == UBUS_STATUS_OK && granted;
}

int Gateway::invoke(uint32_t object, const std::string &function, const wlc::BlobBuf &args, std::string *data)
{
	wlc::BlobBuf reply;
	bool any = false;
	int status = bus_.call(object, function, args,
			       [&](blob_attr *msg) {
				       reply.add_fields(msg);
				       any = true;
			       },
			       timeout_ms_);
	if (any && blob_len(reply.head()) > 0)
		*data = reply.json();
	return status;
}

} // namespace siteview
