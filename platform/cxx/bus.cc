// The bus handles: connection, objects and their dispatch, deferred replies
// and asynchronous calls.
#include <wlc/bus.h>

#include <algorithm>
#include <utility>

namespace wlc {

DeferredReply Request::defer()
{
	ubus_request_data copy;
	ubus_defer_request(ctx_, req_, &copy);
	return DeferredReply(ctx_, copy);
}

DeferredReply &DeferredReply::operator=(DeferredReply &&o) noexcept
{
	if (this != &o) {
		complete(UBUS_STATUS_NO_DATA);
		ctx_ = o.ctx_;
		req_ = o.req_;
		o.ctx_ = nullptr;
	}
	return *this;
}

void DeferredReply::complete(int status)
{
	if (!ctx_)
		return;
	ubus_complete_deferred_request(ctx_, &req_, status);
	ctx_ = nullptr;
}

BusObject::BusObject(std::string name, std::vector<Method> methods, std::string type_name)
	: name_(std::move(name)), type_name_(type_name.empty() ? name_ : std::move(type_name)), methods_(std::move(methods))
{
	for (const Method &m : methods_) {
		ubus_method um = {};
		um.name = m.name.c_str();
		um.handler = &BusObject::dispatch;
		um.policy = m.policy.data();
		um.n_policy = static_cast<int>(m.policy.size());
		table_.push_back(um);
	}
	type_.name = type_name_.c_str();
	type_.methods = table_.data();
	type_.n_methods = static_cast<int>(table_.size());
	slot_.raw.name = name_.c_str();
	slot_.raw.type = &type_;
	slot_.raw.methods = table_.data();
	slot_.raw.n_methods = static_cast<int>(table_.size());
	slot_.owner = this;
}

BusObject::~BusObject()
{
	remove();
}

int BusObject::add(Bus &bus)
{
	if (ctx_ || !bus.ctx())
		return UBUS_STATUS_INVALID_ARGUMENT;
	if (!bus.online())
		return UBUS_STATUS_CONNECTION_FAILED;
	type_.id = 0;
	int ret = ubus_add_object(bus.ctx(), &slot_.raw);
	if (ret == 0)
		ctx_ = bus.ctx();
	return ret;
}

void BusObject::remove()
{
	if (!ctx_)
		return;
	ubus_remove_object(ctx_, &slot_.raw);
	ctx_ = nullptr;
}

int BusObject::dispatch(ubus_context *ctx, ubus_object *obj, ubus_request_data *req,
			const char *method, blob_attr *msg) noexcept
{
	BusObject *self = reinterpret_cast<Slot *>(obj)->owner;
	auto it = std::find_if(self->methods_.begin(), self->methods_.end(),
			       [&](const Method &m) { return m.name == method; });
	if (it == self->methods_.end() || !it->handler)
		return UBUS_STATUS_METHOD_NOT_FOUND;
	Request r(ctx, req);
	try {
		return it->handler(r, msg);
	} catch (...) {
		return UBUS_STATUS_UNKNOWN_ERROR;
	}
}

void AsyncCall::abort()
{
	if (!pending_)
		return;
	ubus_abort_request(ctx_, &slot_.raw);
	pending_ = false;
	if (bus_)
		bus_->calls_.erase(this);
	bus_ = nullptr;
}

void AsyncCall::on_data(ubus_request *req, int, blob_attr *msg) noexcept
{
	AsyncCall *self = reinterpret_cast<Slot *>(req)->owner;
	if (self->data_)
		self->data_(msg);
}

void AsyncCall::on_done(ubus_request *req, int status) noexcept
{
	AsyncCall *self = reinterpret_cast<Slot *>(req)->owner;
	self->pending_ = false;
	if (self->bus_)
		self->bus_->calls_.erase(self);
	self->bus_ = nullptr;
	if (self->done_)
		self->done_(status);
}

bool Bus::connect(const std::string &path)
{
	close();
	auto slot = std::make_unique<Slot>();
	if (ubus_connect_ctx(&slot->raw, path.empty() ? nullptr : path.c_str()) != 0)
		return false;
	slot->owner = this;
	slot->raw.connection_lost = &Bus::connection_lost;
	slot_ = std::move(slot);
	ctx_ = &slot_->raw;
	path_ = path;
	return true;
}

void Bus::watch()
{
	ubus_add_uloop(ctx_);
	watched_ = true;
}

void Bus::close()
{
	if (!ctx_)
		return;
	// Calls still waiting are aborted while the connection they point into exists.
	for (AsyncCall *call : std::exchange(calls_, {})) {
		call->bus_ = nullptr;
		call->abort();
	}
	retry_.cancel();
	watched_ = lost_now_ = false;
	ubus_shutdown(ctx_);
	ctx_ = nullptr;
	slot_.reset();
}

void Bus::connection_lost(ubus_context *ctx) noexcept
{
	Bus *self = reinterpret_cast<Slot *>(ctx)->owner;
	// A dead socket left in the loop would wake it without end.
	if (ctx->sock.registered)
		uloop_fd_delete(&ctx->sock);
	self->lost_now_ = true;
	if (self->watched_)
		self->retry_.set(0);
	try {
		if (self->lost_)
			self->lost_();
	} catch (...) {
	}
}

void Bus::reconnect()
{
	if (!ctx_ || !lost_now_)
		return;
	if (ubus_reconnect(ctx_, path_.empty() ? nullptr : path_.c_str()) != UBUS_STATUS_OK) {
		retry_.set(kReconnectRetryMs);
		return;
	}
	ubus_add_uloop(ctx_);
	lost_now_ = false;
	try {
		if (restored_)
			restored_();
	} catch (...) {
	}
}

uint32_t Bus::lookup(const std::string &path)
{
	uint32_t id = 0;
	if (!online() || ubus_lookup_id(ctx_, path.c_str(), &id) != 0)
		return 0;
	return id;
}

int Bus::call(uint32_t id, const std::string &method, const BlobBuf &args,
	      const AsyncCall::DataHandler &on_data, int timeout_ms)
{
	if (!online())
		return UBUS_STATUS_CONNECTION_FAILED;
	auto cb = [](ubus_request *req, int, blob_attr *msg) {
		auto *handler = static_cast<const AsyncCall::DataHandler *>(req->priv);
		if (*handler)
			(*handler)(msg);
	};
	return ubus_invoke(ctx_, id, method.c_str(), args.head(), cb,
			   const_cast<AsyncCall::DataHandler *>(&on_data), timeout_ms);
}

int Bus::call_async(uint32_t id, const std::string &method, const BlobBuf &args, AsyncCall &call,
		    AsyncCall::DataHandler on_data, AsyncCall::DoneHandler on_done)
{
	if (!online())
		return UBUS_STATUS_CONNECTION_FAILED;
	call.abort();
	int ret = ubus_invoke_async(ctx_, id, method.c_str(), args.head(), &call.slot_.raw);
	if (ret)
		return ret;
	call.slot_.owner = &call;
	call.ctx_ = ctx_;
	call.data_ = std::move(on_data);
	call.done_ = std::move(on_done);
	call.slot_.raw.data_cb = &AsyncCall::on_data;
	call.slot_.raw.complete_cb = &AsyncCall::on_done;
	call.pending_ = true;
	call.bus_ = this;
	calls_.insert(&call);
	ubus_complete_request_async(ctx_, &call.slot_.raw);
	return 0;
}

} // namespace wlc
