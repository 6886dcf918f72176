// The MQTT instance on the event loop.
#include "instance.h"

#include <mosquitto.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <new>

#include <wlc/log.h>

#include "../bridge/bridge.h"

namespace mast {

namespace {

constexpr int kConnectRetryMs = 2000;
constexpr int kHousekeepingMs = 1000;
constexpr int kReconnectRetryMs = 10000;
constexpr size_t kFilterLimit = 127;

void init_library()
{
	static bool done = false;
	if (!done) {
		mosquitto_lib_init();
		done = true;
	}
}

// libmosquitto sets up its TLS state (the slot in which each connection
// finds its client during verification) only when it builds a TLS context
// of its own; a connection over a context handed to it then fails every
// verification. One throwaway client that builds its own context, started
// towards a listener of ours, sets that state up once per process.
void prime_library_tls()
{
	static bool done = false;
	if (done)
		return;
	wlc::UniqueFd listener(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
	sockaddr_in addr = {};
	addr.sin_family = AF_INET;
	addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	socklen_t len = sizeof(addr);
	if (!listener || bind(listener.get(), reinterpret_cast<sockaddr *>(&addr), sizeof(addr)) != 0 ||
	    listen(listener.get(), 1) != 0 || getsockname(listener.get(), reinterpret_cast<sockaddr *>(&addr), &len) != 0)
		return;
	mosquitto *m = mosquitto_new(nullptr, true, nullptr);
	if (!m)
		return;
	if (mosquitto_tls_set(m, nullptr, "/", nullptr, nullptr, nullptr) == MOSQ_ERR_SUCCESS &&
	    mosquitto_tls_opts_set(m, 0, nullptr, nullptr) == MOSQ_ERR_SUCCESS)
		done = mosquitto_connect_async(m, "127.0.0.1", ntohs(addr.sin_port), 60) == MOSQ_ERR_SUCCESS;
	mosquitto_destroy(m);
}

} // namespace

std::unique_ptr<MqttInstance> MqttInstance::create(const MqttConfig &config, const std::optional<TlsSettings> &tls,
						   wlc::Bus &bus)
{
	if (config.name.empty() || config.host.empty() || config.port <= 0)
		return nullptr;
	std::unique_ptr<MqttInstance> inst(new MqttInstance(config, bus));
	if (!inst->setup(tls))
		return nullptr;
	// Connecting starts on the next turn of the loop: handlers and the will go in first.
	inst->connect_timer_.set(0);
	return inst;
}

MqttInstance::MqttInstance(const MqttConfig &config, wlc::Bus &bus)
	: config_(config), bus_(bus), connect_timer_([this] { start_connect(); }),
	  housekeeping_timer_([this] { housekeeping(); })
{
	config_.name.resize(std::min<size_t>(config_.name.size(), 31));
	config_.client_id.resize(std::min<size_t>(config_.client_id.size(), 31));
	config_.host.resize(std::min<size_t>(config_.host.size(), 127));
	config_.username.resize(std::min<size_t>(config_.username.size(), 31));
	config_.password.resize(std::min<size_t>(config_.password.size(), 31));
}

bool MqttInstance::setup(const std::optional<TlsSettings> &tls)
{
	init_library();
	tls_settings_ = tls;
	client_ = mosquitto_new(config_.client_id.c_str(), true, this);
	if (!client_ || !configure_client())
		return false;
	bridge_ = std::make_unique<Bridge>(*this);
	return true;
}

// Everything the library client is given before it connects: callbacks,
// options, credentials, TLS and the will.
bool MqttInstance::configure_client()
{
	// MQTT packets are small and acknowledged one by one (QoS 1 and 2): they
	// must not wait for the kernel to gather them.
	mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
	mosquitto_connect_callback_set(client_, &MqttInstance::on_connack);
	mosquitto_message_callback_set(client_, &MqttInstance::on_message);
	mosquitto_publish_callback_set(client_, &MqttInstance::on_published);
	mosquitto_disconnect_callback_set(client_, &MqttInstance::on_lost);
	if (!config_.username.empty() &&
	    mosquitto_username_pw_set(client_, config_.username.c_str(), config_.password.c_str()) != MOSQ_ERR_SUCCESS)
		return false;
	if (const auto &tls = tls_settings_) {
		tls_ = true;
		if ((tls->verify_peer && !trust_pinned_certificates()) ||
		    mosquitto_tls_set(client_, tls->cafile ? tls->cafile->c_str() : nullptr,
				      tls->capath ? tls->capath->c_str() : nullptr, tls->certfile.c_str(),
				      tls->keyfile.c_str(), nullptr) != MOSQ_ERR_SUCCESS ||
		    mosquitto_tls_insecure_set(client_, tls->tls_insecure) != MOSQ_ERR_SUCCESS ||
		    mosquitto_tls_opts_set(client_, tls->verify_peer ? 1 : 0, nullptr, nullptr) != MOSQ_ERR_SUCCESS)
			return false;
	}
	return !will_ || mosquitto_will_set(client_, will_->topic.c_str(), static_cast<int>(will_->payload.size()),
					     will_->payload.data(), will_->qos, will_->retain) == MOSQ_ERR_SUCCESS;
}

// The library keeps the incoming QoS 2 messages still waiting for their
// release across a reconnection, whatever the session: a broker that starts
// a clean session numbers its messages afresh, so that a new message's
// release would hand over the old one under the same number and leave the new
// one waiting for good. A connection that was up is therefore followed by a
// client made anew, and the messages the broker had not yet acknowledged are
// handed to it again, as the library itself would have sent them again.
bool MqttInstance::fresh_client()
{
	if (mosquitto_reinitialise(client_, config_.client_id.c_str(), true, this) != MOSQ_ERR_SUCCESS ||
	    !configure_client())
		return false;
	session_used_ = false;
	return true;
}

int MqttInstance::send(const std::string &topic, const void *payload, size_t len, int qos, bool retain, int *mid_out)
{
	int mid = 0;
	int rc = mosquitto_publish(client_, &mid, topic.c_str(), static_cast<int>(len), payload, qos, retain);
	if (rc != MOSQ_ERR_SUCCESS)
		return rc;
	if (mid_out)
		*mid_out = mid;
	if (qos > 0) {
		// A number the library gives out again belongs to a message it is done with.
		forget_unacked(mid);
		unacked_.push_back({mid, Kept(topic, payload, len, qos, retain)});
		unacked_by_mid_[mid] = std::prev(unacked_.end());
	}
	return rc;
}

void MqttInstance::forget_unacked(int mid)
{
	if (auto it = unacked_by_mid_.find(mid); it != unacked_by_mid_.end()) {
		unacked_.erase(it->second);
		unacked_by_mid_.erase(it);
	}
}

MqttInstance::Kept::Kept(const std::string &topic, const void *payload, size_t len, int qos, bool retain)
	: topic(topic), payload(static_cast<const uint8_t *>(payload), static_cast<const uint8_t *>(payload) + len),
	  qos(qos), retain(retain)
{
}

void MqttInstance::resend_unacked()
{
	std::list<Outgoing> pending;
	pending.swap(unacked_);
	unacked_by_mid_.clear();
	for (const Outgoing &o : pending) {
		const Kept &m = o.message;
		if (send(m.topic, m.payload.data(), m.payload.size(), m.qos, m.retain, nullptr) != MOSQ_ERR_SUCCESS)
			wlc::logf(LOG_WARNING, "FAILED to send again a message on %s", m.topic.c_str());
	}
}

// Every certificate in the trusted file or directory is an anchor of its
// own, whether it is a self-signed authority or a server certificate issued
// by some authority that the device never saw: an AP pins the broker's own
// certificate, saved when it joined.
bool MqttInstance::trust_pinned_certificates()
{
	prime_library_tls();
	SSL_CTX *ctx = SSL_CTX_new(TLS_client_method());
	if (!ctx)
		return false;
	X509_STORE_set_flags(SSL_CTX_get_cert_store(ctx), X509_V_FLAG_PARTIAL_CHAIN);
	// The library keeps its own reference and still applies the CA, client
	// certificate and verification settings to this context.
	bool ok = mosquitto_int_option(client_, MOSQ_OPT_SSL_CTX_WITH_DEFAULTS, 1) == MOSQ_ERR_SUCCESS &&
		  mosquitto_void_option(client_, MOSQ_OPT_SSL_CTX, ctx) == MOSQ_ERR_SUCCESS;
	SSL_CTX_free(ctx);
	return ok;
}

MqttInstance::~MqttInstance()
{
	connect_timer_.cancel();
	disconnect();
	connect_cb_ = nullptr;
	disconnect_cb_ = nullptr;
	subs_.clear();
	if (client_)
		mosquitto_destroy(client_);
	bridge_.reset();
}

void MqttInstance::start_connect()
{
	int rc = mosquitto_connect_async(client_, config_.host.c_str(), config_.port, config_.keepalive);
	if (rc == MOSQ_ERR_SUCCESS && mosquitto_socket(client_) >= 0) {
		start_error_ = MOSQ_ERR_SUCCESS;
		watch_socket();
		housekeeping_timer_.set(kHousekeepingMs);
		return;
	}
	// Said once per cause, not on every retry: an unreadable certificate or
	// key file fails here until it is replaced.
	if (rc != MOSQ_ERR_SUCCESS && rc != start_error_)
		wlc::logf(LOG_WARNING, "MQTT connection to %s:%d cannot start: %s", config_.host.c_str(), config_.port,
			  mosquitto_strerror(rc));
	start_error_ = rc;
	disconnect();
	connect_timer_.set(kConnectRetryMs);
}

void MqttInstance::watch_socket()
{
	int fd = mosquitto_socket(client_);
	if (watch_ && watch_->fd() != fd)
		stop_watch();
	if (fd < 0)
		return;
	if (!watch_)
		watch_ = std::make_unique<wlc::FdWatch>(fd, [this](unsigned int events) { socket_ready(events); });
	write_probe_ = true;
	update_watch();
}

// Read interest always; write interest while output is pending. Before the
// broker has acknowledged the connection the library reports pending output
// during the whole TLS handshake, although only reads move it on: then write
// readiness is asked for once per read or housekeeping turn, never in a loop.
void MqttInstance::update_watch()
{
	if (!watch_)
		return;
	unsigned int flags = ULOOP_READ;
	if (mosquitto_want_write(client_) && (connected_ || write_probe_))
		flags |= ULOOP_WRITE;
	if (flags != watch_flags_ || !watch_->registered()) {
		watch_->start(flags);
		watch_flags_ = flags;
	}
}

void MqttInstance::stop_watch()
{
	if (watch_)
		watch_->stop();
	watch_.reset();
	watch_flags_ = 0;
}

void MqttInstance::socket_ready(unsigned int events)
{
	if (watch_->error() || watch_->eof()) {
		// Let the library take what is left and see the end, closing its socket.
		stop_watch();
		for (int i = 0; i < 64 && mosquitto_socket(client_) >= 0; i++)
			if (mosquitto_loop_read(client_, 1) != MOSQ_ERR_SUCCESS)
				break;
		return;
	}
	if (!(events & ULOOP_READ))
		write_probe_ = false;
	service(events & ULOOP_READ);
}

void MqttInstance::service(bool read)
{
	if (read) {
		write_probe_ = true;
		mosquitto_loop_read(client_, 1);
		// Records decrypted by TLS but not yet read stay in the TLS buffer,
		// where the socket's readiness no longer shows them.
		while (tls_ && mosquitto_socket(client_) >= 0) {
			auto *ssl = static_cast<SSL *>(mosquitto_ssl_get(client_));
			if (!ssl || SSL_pending(ssl) <= 0)
				break;
			mosquitto_loop_read(client_, 1);
		}
	}
	if (mosquitto_socket(client_) >= 0 && mosquitto_want_write(client_))
		mosquitto_loop_write(client_, 1);
	mosquitto_loop_misc(client_);
	if (mosquitto_socket(client_) < 0 || (watch_ && watch_->fd() != mosquitto_socket(client_)))
		stop_watch();
	else
		update_watch();
}

void MqttInstance::housekeeping()
{
	if (mosquitto_loop_misc(client_) == MOSQ_ERR_NO_CONN) {
		if (connected_) {
			connected_ = false;
			disconnect_path();
		}
		stop_watch();
		bool fresh = session_used_;
		if (fresh && !fresh_client()) {
			wlc::logf(LOG_WARNING, "MQTT client for %s:%d cannot be made anew", config_.host.c_str(), config_.port);
			housekeeping_timer_.set(kReconnectRetryMs);
			return;
		}
		int rc = fresh ? mosquitto_connect_async(client_, config_.host.c_str(), config_.port, config_.keepalive)
			       : mosquitto_reconnect_async(client_);
		if (fresh)
			resend_unacked();
		if (rc != MOSQ_ERR_SUCCESS) {
			housekeeping_timer_.set(kReconnectRetryMs);
			return;
		}
		service(true);
		watch_socket();
	} else {
		write_probe_ = true;
		update_watch();
	}
	housekeeping_timer_.set(kHousekeepingMs);
}

void MqttInstance::disconnect()
{
	if (connected_)
		disconnect_path();
	connected_ = false;
	housekeeping_timer_.cancel();
	stop_watch();
	if (client_)
		mosquitto_disconnect(client_);
}

void MqttInstance::connect_path()
{
	bridge_->add();
	if (connect_cb_)
		connect_cb_();
}

void MqttInstance::disconnect_path()
{
	bridge_->remove();
	if (disconnect_cb_)
		disconnect_cb_();
}

void MqttInstance::on_connack(mosquitto *, void *self, int rc)
{
	auto *inst = static_cast<MqttInstance *>(self);
	// A refused connection is not a connection: the broker closes it and
	// housekeeping tries again.
	if (rc != 0) {
		wlc::logf(LOG_WARNING, "MQTT connection to %s:%d refused: %s", inst->config_.host.c_str(),
			  inst->config_.port, mosquitto_connack_string(rc));
		return;
	}
	inst->connected_ = true;
	inst->session_used_ = true;
	inst->connect_path();
}

// Why an established connection ended, once per loss: a disconnect of our
// own (rc 0) and failed attempts to connect are not reported.
void MqttInstance::on_lost(mosquitto *, void *self, int rc)
{
	auto *inst = static_cast<MqttInstance *>(self);
	if (rc != 0 && inst->connected_)
		wlc::logf(LOG_NOTICE, "MQTT connection to %s:%d lost: %s", inst->config_.host.c_str(), inst->config_.port,
			  mosquitto_strerror(rc));
}

void MqttInstance::on_message(mosquitto *, void *self, const mosquitto_message *msg) noexcept
{
	// A handler that runs out of memory drops its message; the failure must
	// not unwind through libmosquitto.
	try {
		static_cast<MqttInstance *>(self)->route(*msg);
	} catch (const std::bad_alloc &) {
		wlc::logf(LOG_WARNING, "FAILED to handle a message on %s: out of memory", msg->topic);
	}
}

void MqttInstance::on_published(mosquitto *, void *self, int mid)
{
	auto *inst = static_cast<MqttInstance *>(self);
	inst->forget_unacked(mid);
	if (mid == inst->flush_mid_)
		inst->flushed_ = true;
}

void MqttInstance::route(const mosquitto_message &msg)
{
	if (draining_)
		return;
	for (const Subscription &s : subs_) {
		bool match = false;
		if (mosquitto_topic_matches_sub(s.filter.c_str(), msg.topic, &match) != MOSQ_ERR_SUCCESS || !match)
			continue;
		if (!s.handler)
			return;
		// The handler may re-subscribe its own filter; keep it alive while it runs.
		Handler handler = s.handler;
		last_retained_ = msg.retain;
		handler(split_topic(msg.topic), msg.payload, static_cast<size_t>(msg.payloadlen));
		return;
	}
}

int MqttInstance::subscribe(const std::string &filter, int qos, Handler handler)
{
	std::string f = filter.substr(0, kFilterLimit);
	auto it = std::find_if(subs_.begin(), subs_.end(), [&](const Subscription &s) { return s.filter == f; });
	if (it == subs_.end())
		it = subs_.insert(subs_.end(), Subscription{f, qos, nullptr, 0});
	it->qos = qos;
	it->handler = std::move(handler);
	if (mosquitto_subscribe(client_, &it->mid, f.c_str(), qos) != MOSQ_ERR_SUCCESS) {
		subs_.erase(it);
		return -1;
	}
	update_watch();
	return 0;
}

int MqttInstance::publish(const std::string &topic, const void *payload, size_t len, int qos, bool retain)
{
	int rc = send(topic, payload, len, qos, retain, nullptr);
	update_watch();
	return rc == MOSQ_ERR_SUCCESS ? 0 : -1;
}

bool MqttInstance::publish_flushed(const std::string &topic, const void *payload, size_t len, int qos, bool retain,
				   std::chrono::milliseconds limit)
{
	if (!connected_)
		return false;
	int mid = 0;
	if (send(topic, payload, len, qos, retain, &mid) != MOSQ_ERR_SUCCESS)
		return false;
	flush_mid_ = mid;
	flushed_ = false;
	draining_ = true;
	auto end = std::chrono::steady_clock::now() + limit;
	while (!flushed_ && std::chrono::steady_clock::now() < end && mosquitto_socket(client_) >= 0)
		if (mosquitto_loop(client_, 50, 1) != MOSQ_ERR_SUCCESS)
			break;
	draining_ = false;
	flush_mid_ = -1;
	update_watch();
	return flushed_;
}

int MqttInstance::set_will(const std::string &topic, const void *payload, size_t len, int qos, bool retain)
{
	if (mosquitto_will_set(client_, topic.c_str(), static_cast<int>(len), payload, qos, retain) != MOSQ_ERR_SUCCESS)
		return -1;
	will_.emplace(topic, payload, len, qos, retain); // for a client made anew
	return 0;
}

X509Ptr MqttInstance::peer_certificate() const
{
	auto *ssl = static_cast<SSL *>(mosquitto_ssl_get(client_));
	return X509Ptr(ssl ? SSL_get1_peer_certificate(ssl) : nullptr);
}

} // namespace mast
