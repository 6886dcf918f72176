// The web server's bus JSON-RPC: a request (or a batch of them) in, the
// answer out, every call checked against the caller's session first.
//   {"jsonrpc": "2.0", "id": ..., "method": "call",
//    "params": [session, object, method, {args}]}  -> "result": [status, {data}?]
//   {"jsonrpc": "2.0", "id": ..., "method": "list", "params": [pattern, ...]?}
// Failures are JSON-RPC errors with the platform's codes.
#pragma once

#include <wlc/bus.h>

#include <string>
#include <string_view>

struct json_object;

namespace siteview {

// The largest request body taken.
inline constexpr size_t kMaxRequestBytes = 64 * 1024;

enum class RpcError {
	parse,     // -32700 the body is no JSON
	request,   // -32600 JSON, but no request
	method,    // -32601 neither "call" nor "list"
	params,    // -32602 the parameters do not fit the method
	internal,  // -32603 the bus could not be asked
	object,    // -32000 no such object
	session,   // -32001
	access,    // -32002 the session may not make the call
	timeout,   // -32003 the object did not answer in time
};

// The answer text of one error, with the request's id as JSON ("null" when none).
[[nodiscard]] std::string error_response(RpcError e, const std::string &id_json);

class Gateway {
public:
	Gateway(wlc::Bus &bus, int timeout_ms) : bus_(bus), timeout_ms_(timeout_ms) {}

	// The answer to a request body (an object or an array of them).
	[[nodiscard]] std::string handle(std::string_view body);

private:
	std::string handle_one(json_object *request);
	std::string handle_call(json_object *params, const std::string &id);
	std::string handle_list(json_object *params, const std::string &id);
	bool allowed(const std::string &session, const std::string &object, const std::string &function);
	int invoke(uint32_t object, const std::string &function, const wlc::BlobBuf &args, std::string *data);

	wlc::Bus &bus_;
	int timeout_ms_;
};

} // namespace siteview
