// RAII handles over the bus client: the connection, objects with method
// handlers, requests answered now or later, and calls out.
#pragma once

#include <wlc/c/ubus.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "blob.h"
#include "loop.h"

namespace wlc {

class DeferredReply;

// An incoming call, valid while its handler runs.
class Request {
public:
	Request(ubus_context *ctx, ubus_request_data *req) : ctx_(ctx), req_(req) {}

	// Sends one reply message; a call may get several.
	int reply(const BlobBuf &msg) { return ubus_send_reply(ctx_, req_, msg.head()); }
	// Hands a descriptor back with the final status (the bus closes it).
	void set_fd(int fd) { ubus_request_set_fd(ctx_, req_, fd); }
	// The descriptor the caller sent, now owned by the handler (-1 if none).
	int take_caller_fd() { return ubus_request_get_caller_fd(req_); }
	// Keeps the call open after the handler returns; its status is given later.
	[[nodiscard]] DeferredReply defer();
	const char *user() const { return req_->acl.user; }

private:
	ubus_context *ctx_;
	ubus_request_data *req_;
};

// A call answered later. Completing twice is harmless; one never completed is
// answered with UBUS_STATUS_NO_DATA when the handle goes, so no caller waits
// for ever. It must not outlive the Bus it came from.
class DeferredReply {
public:
	DeferredReply() = default;
	DeferredReply(ubus_context *ctx, const ubus_request_data &req) : ctx_(ctx), req_(req) {}
	~DeferredReply() { complete(UBUS_STATUS_NO_DATA); }
	DeferredReply(DeferredReply &&o) noexcept : ctx_(o.ctx_), req_(o.req_) { o.ctx_ = nullptr; }
	DeferredReply &operator=(DeferredReply &&o) noexcept;
	DeferredReply(const DeferredReply &) = delete;
	DeferredReply &operator=(const DeferredReply &) = delete;

	bool active() const { return ctx_ != nullptr; }
	int reply(const BlobBuf &msg) { return ctx_ ? ubus_send_reply(ctx_, &req_, msg.head()) : -1; }
	void set_fd(int fd) { req_.fd = fd; }
	void complete(int status);

private:
	ubus_context *ctx_ = nullptr;
	ubus_request_data req_ = {};
};

// One method: name, argument policy, and the handler, which returns a bus status.
struct Method {
	using Handler = std::function<int(Request &, blob_attr *msg)>;
	std::string name;
	std::vector<blobmsg_policy> policy;
	Handler handler;
};

class Bus;

// An object on the bus with its method table; removed when destroyed.
class BusObject {
public:
	// The object type is named type_name (the object's own name when empty).
	BusObject(std::string name, std::vector<Method> methods, std::string type_name = {});
	~BusObject();
	BusObject(const BusObject &) = delete;
	BusObject &operator=(const BusObject &) = delete;

	// Returns the bus status of the registration.
	int add(Bus &bus);
	void remove();
	bool added() const { return ctx_ != nullptr; }
	uint32_t id() const { return slot_.raw.id; }
	const std::string &name() const { return name_; }

private:
	struct Slot {
		ubus_object raw = {};
		BusObject *owner = nullptr;
	};
	static int dispatch(ubus_context *ctx, ubus_object *obj, ubus_request_data *req,
			    const char *method, blob_attr *msg) noexcept;

	std::string name_;
	std::string type_name_;
	std::vector<Method> methods_;
	std::vector<ubus_method> table_;
	ubus_object_type type_ = {};
	Slot slot_;
	ubus_context *ctx_ = nullptr;
};

// A call made with Bus::call_async; aborted if destroyed before it completes,
// and when its Bus closes first (so it never touches a freed connection).
class AsyncCall {
public:
	using DataHandler = std::function<void(blob_attr *msg)>;
	using DoneHandler = std::function<void(int status)>;

	AsyncCall() = default;
	~AsyncCall() { abort(); }
	AsyncCall(const AsyncCall &) = delete;
	AsyncCall &operator=(const AsyncCall &) = delete;

	bool pending() const { return pending_; }
	void abort();

private:
	friend class Bus;
	struct Slot {
		ubus_request raw = {};
		AsyncCall *owner = nullptr;
	};
	static void on_data(ubus_request *req, int type, blob_attr *msg) noexcept;
	static void on_done(ubus_request *req, int status) noexcept;

	Slot slot_;
	ubus_context *ctx_ = nullptr;
	Bus *bus_ = nullptr; // while pending
	bool pending_ = false;
	DataHandler data_;
	DoneHandler done_;
};

// A bus connection, freed when destroyed. Once watched, a connection the bus
// daemon drops is connected again from the event loop (every
// kReconnectRetryMs until the daemon is back); the library puts the
// connection's objects back on the new bus, so a BusObject stays valid.
class Bus {
public:
	static constexpr int kReconnectRetryMs = 1000;

	Bus() : retry_([this] { reconnect(); }) {}
	~Bus() { close(); }
	Bus(const Bus &) = delete;
	Bus &operator=(const Bus &) = delete;

	// path empty: the default socket. Returns false when it cannot connect.
	bool connect(const std::string &path = {});
	void close();
	// Lets the event loop serve the connection, and reconnect it when lost.
	void watch();
	bool connected() const { return ctx_ != nullptr; }
	// False from a loss until the connection is back.
	bool online() const { return ctx_ != nullptr && !lost_now_; }
	ubus_context *ctx() const { return ctx_; }
	// Told when the daemon drops the connection, and when it is back (objects re-added).
	void on_lost(std::function<void()> cb) { lost_ = std::move(cb); }
	void on_restored(std::function<void()> cb) { restored_ = std::move(cb); }

	// The id of an object; 0 when absent.
	uint32_t lookup(const std::string &path);
	// Synchronous call; each reply goes to on_data. Returns the bus status.
	int call(uint32_t id, const std::string &method, const BlobBuf &args,
		 const AsyncCall::DataHandler &on_data, int timeout_ms);
	// Asynchronous call completed from the event loop.
	int call_async(uint32_t id, const std::string &method, const BlobBuf &args, AsyncCall &call,
		       AsyncCall::DataHandler on_data, AsyncCall::DoneHandler on_done);

private:
	friend class AsyncCall;
	struct Slot {
		ubus_context raw = {};
		Bus *owner = nullptr;
	};
	static void connection_lost(ubus_context *ctx) noexcept;
	void reconnect();

	std::unique_ptr<Slot> slot_;
	ubus_context *ctx_ = nullptr;
	std::string path_;
	bool watched_ = false;
	bool lost_now_ = false;
	Timer retry_;
	std::function<void()> lost_;
	std::function<void()> restored_;
	std::set<AsyncCall *> calls_; // pending, aborted on close
};

} // namespace wlc
