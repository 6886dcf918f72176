// The service's own read-only connection to the controller's broker
// (loopback, the controller's user name and password): a libmosquitto
// client driven by the event loop through its socket (no library thread),
// which subscribes its filters on every connection, hands every message to
// its sink and connects again whenever the broker goes away.
#pragma once

#include <wlc/loop.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace fleet {

struct TapSettings {
	std::string host = "127.0.0.1";
	int port = 0;
	std::string username, password; // empty username: none sent
	std::string client_id = "fleetd-tap";
	std::vector<std::pair<std::string, int>> filters; // filter, QoS
};

class BrokerTap {
public:
	using Sink = std::function<void(const std::string &topic, const void *payload, size_t len)>;

	// Null (the reason logged) when the client cannot be set up.
	static std::unique_ptr<BrokerTap> create(const TapSettings &settings, Sink sink);
	~BrokerTap();
	BrokerTap(const BrokerTap &) = delete;
	BrokerTap &operator=(const BrokerTap &) = delete;

	[[nodiscard]] bool connected() const { return connected_; }

private:
	struct Destroy {
		void operator()(mosquitto *m) const noexcept;
	};

	BrokerTap(const TapSettings &settings, Sink sink);
	bool setup();
	void start();
	void housekeeping();
	void socket_ready(unsigned int events);
	void watch_socket();
	void stop_watch();

	static void on_connect(mosquitto *m, void *self, int rc) noexcept;
	static void on_disconnect(mosquitto *m, void *self, int rc) noexcept;
	static void on_message(mosquitto *m, void *self, const mosquitto_message *msg) noexcept;

	TapSettings settings_;
	Sink sink_;
	std::unique_ptr<mosquitto, Destroy> client_;
	bool connected_ = false;
	bool down_logged_ = false;
	unsigned int watch_flags_ = 0;
	std::unique_ptr<wlc::FdWatch> watch_;
	wlc::Timer housekeeping_timer_;
};

} // namespace fleet
