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

class MqttClient {
public:
	// Connects (plain or with the given CA file); throws when it cannot.
	MqttClient(const std::string &id, int port, const std::string &cafile = "", bool clean = true);
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

} // namespace wlctest
