// An MQTT client for tests (libmosquitto with its own network thread): plays
// APs and controller services, and collects what it receives.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace wlctest {

struct MqttMessage {
	std::string topic;
	std::vector<uint8_t> payload;
	bool retain = false;
};

// How a client proves who it is: a CA file (TLS), a client certificate and
// key, a user name and password; empty members are not used.
struct ClientAuth {
	std::string cafile, certfile, keyfile, username, password;
};

class MqttClient {
public:
	// Connects (plain or with the given CA file); throws when it cannot.
	MqttClient(const std::string &id, int port, const std::string &cafile = "", bool clean = true);
	// Connects with these credentials; throws when it cannot.
	MqttClient(const std::string &id, int port, const ClientAuth &auth, bool clean = true);
	~MqttClient();
	MqttClient(const MqttClient &) = delete;
	MqttClient &operator=(const MqttClient &) = delete;

	void will(const std::string &topic, const std::vector<uint8_t> &payload, bool retain);
	bool subscribe(const std::string &filter, int qos = 2);
	bool publish(const std::string &topic, const std::vector<uint8_t> &payload, int qos = 1, bool retain = false);
	// The next message received, waiting up to limit.
	bool next(MqttMessage &out, std::chrono::milliseconds limit = std::chrono::seconds(5));
	size_t pending();

private:
	static void on_message(mosquitto *, void *self, const ::mosquitto_message *msg);
	static void on_subscribe(mosquitto *, void *self, int mid, int count, const int *granted);

	mosquitto *m_ = nullptr;
	std::mutex mu_;
	std::condition_variable cv_;
	std::deque<MqttMessage> inbox_;
	int subscribed_ = 0;
};

// One connection attempt to a broker that is up: 0 when the broker accepts
// it, the broker's refusal code (CONNACK), or -1 when no MQTT session was
// reached (TLS refused, connection closed).
int try_connect(const std::string &id, int port, const ClientAuth &auth);

} // namespace wlctest
