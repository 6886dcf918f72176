// An MQTT connection of mast: a libmosquitto client driven by the event loop
// (no library thread), with a subscription table routing each message to the
// first matching entry, and the bridge object that exists while connected.
#pragma once

#include <wlc/bus.h>
#include <wlc/loop.h>

#include <openssl/x509.h>

#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "payload.h"

struct mosquitto;
struct mosquitto_message;

namespace mast {

class Bridge;

struct MqttConfig {
	std::string name;      // the bridge object is "mqtt.<name>"
	std::string client_id;
	std::string host;
	std::string username;  // empty: no credentials
	std::string password;
	int port = 0;
	int keepalive = 30;
};

struct TlsSettings {
	std::optional<std::string> cafile;
	std::optional<std::string> capath;
	std::string certfile;
	std::string keyfile;
	bool tls_insecure = false; // do not check the broker certificate's host name
	bool verify_peer = true;   // the broker certificate must verify against the trusted CAs
};

struct X509Free {
	void operator()(X509 *x) const { X509_free(x); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;

class MqttInstance {
public:
	// A message routed to a subscription entry.
	using Handler = std::function<void(const TopicLevels &topic, const void *payload, size_t len)>;

	// Null when name or host is empty, port <= 0 or the client cannot be set up.
	static std::unique_ptr<MqttInstance> create(const MqttConfig &config, const std::optional<TlsSettings> &tls,
						    wlc::Bus &bus);
	~MqttInstance();
	MqttInstance(const MqttInstance &) = delete;
	MqttInstance &operator=(const MqttInstance &) = delete;

	// The owner's handlers, called on every connection and every loss.
	void on_connect(std::function<void()> cb) { connect_cb_ = std::move(cb); }
	void on_disconnect(std::function<void()> cb) { disconnect_cb_ = std::move(cb); }

	// Adds (or re-uses) the entry for this filter and sends SUBSCRIBE; -1 when
	// it cannot be queued (the entry is removed then).
	int subscribe(const std::string &filter, int qos, Handler handler);
	int publish(const std::string &topic, const void *payload, size_t len, int qos, bool retain);
	// Publishes and runs the connection until the broker has taken the
	// message (its last acknowledgement) or the limit passes; messages that
	// arrive meanwhile are dropped. For the last words before a clean
	// disconnect, which would otherwise be lost with the connection.
	bool publish_flushed(const std::string &topic, const void *payload, size_t len, int qos, bool retain,
			     std::chrono::milliseconds limit);
	int set_will(const std::string &topic, const void *payload, size_t len, int qos, bool retain);
	// The broker's certificate on the live TLS connection.
	X509Ptr peer_certificate() const;

	const MqttConfig &config() const { return config_; }
	bool connected() const { return connected_; }
	// Whether the message being handled was a retained one handed over on subscription.
	bool last_retained() const { return last_retained_; }
	wlc::Bus &bus() { return bus_; }
	Bridge &bridge() { return *bridge_; }
	size_t subscription_count() const { return subs_.size(); }

private:
	struct Subscription {
		std::string filter;
		int qos = 0;
		Handler handler;
		int mid = 0;
	};

	MqttInstance(const MqttConfig &config, wlc::Bus &bus);
	bool setup(const std::optional<TlsSettings> &tls);
	bool configure_client();
	bool fresh_client();
	// Publishes through the library, keeping a copy of a QoS 1 or 2 message
	// until the broker has acknowledged it; a MOSQ_ERR_ code.
	int send(const std::string &topic, const void *payload, size_t len, int qos, bool retain, int *mid);
	void resend_unacked();
	void start_connect();
	void housekeeping();
	void socket_ready(unsigned int events);
	void service(bool read);
	void watch_socket();
	void update_watch();
	void stop_watch();
	void disconnect();
	void connect_path();
	void disconnect_path();
	void route(const mosquitto_message &msg);

	static void on_connack(mosquitto *m, void *self, int rc);
	static void on_message(mosquitto *m, void *self, const mosquitto_message *msg) noexcept;
	static void on_published(mosquitto *m, void *self, int mid);
	static void on_lost(mosquitto *m, void *self, int rc);
	bool trust_pinned_certificates();

	// A message kept to be handed to a client made anew: the will, or one
	// published and not yet acknowledged.
	struct Kept {
		Kept(const std::string &topic, const void *payload, size_t len, int qos, bool retain);
		std::string topic;
		std::vector<uint8_t> payload;
		int qos = 0;
		bool retain = false;
	};
	struct Outgoing {
		int mid = 0;
		Kept message;
	};
	void forget_unacked(int mid);

	MqttConfig config_;
	std::optional<TlsSettings> tls_settings_;
	std::optional<Kept> will_;
	wlc::Bus &bus_;
	mosquitto *client_ = nullptr;
	bool connected_ = false;
	bool session_used_ = false; // a connection was acknowledged since the client was made
	std::list<Outgoing> unacked_; // in the order they were published
	std::unordered_map<int, std::list<Outgoing>::iterator> unacked_by_mid_;
	bool tls_ = false;
	int start_error_ = 0; // why the last connection could not start (a MOSQ_ERR_ code)
	wlc::Timer connect_timer_;
	wlc::Timer housekeeping_timer_;
	std::unique_ptr<wlc::FdWatch> watch_;
	unsigned int watch_flags_ = 0;
	bool write_probe_ = true;
	std::list<Subscription> subs_;
	std::function<void()> connect_cb_;
	std::function<void()> disconnect_cb_;
	std::unique_ptr<Bridge> bridge_;
	int flush_mid_ = -1;
	bool flushed_ = false;
	bool draining_ = false;
	bool last_retained_ = false;
};

} // namespace mast
