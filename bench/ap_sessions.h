// Many simulated APs, each with an MQTT session of its own (client id and
// user name: its identifier), as a broker with a per-AP access list needs
// them. One thread drives every session: other threads hand it what to
// publish, and it reads what arrives (each AP's requests, which the owner
// answers through post()).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace bench {

class ApSessions {
public:
	using Bytes = std::vector<uint8_t>;
	// A message for AP `ap`, called on the sessions' thread.
	using OnMessage = std::function<void(size_t ap, const mosquitto_message *msg)>;

	// Connects one session per identifier to 127.0.0.1:port and subscribes
	// each to `filter` with %s replaced by its identifier (none when empty).
	ApSessions(const std::vector<std::string> &ids, int port, const std::string &filter, OnMessage on_message);
	~ApSessions();
	ApSessions(const ApSessions &) = delete;
	ApSessions &operator=(const ApSessions &) = delete;

	// Waits until every session is connected and subscribed.
	bool ready(std::chrono::seconds limit);
	// Publishes on AP ap's session (from any thread; payload copied).
	void post(size_t ap, const std::string &topic, const Bytes &payload, int qos, bool retain);

private:
	struct Job {
		size_t ap;
		std::string topic;
		Bytes payload;
		int qos;
		bool retain;
	};
	void run();
	void drain();
	void flush_pending();

	std::vector<mosquitto *> sessions_;
	OnMessage on_message_;
	std::string filter_;
	std::vector<std::string> ids_;
	std::mutex mu_;
	std::deque<Job> jobs_;
	std::vector<size_t> pending_; // sessions with bytes left to write
	int wake_ = -1;	      // eventfd
	std::atomic<bool> stop_{false};
	std::atomic<size_t> connected_{0}, subscribed_{0};
	std::thread thread_;
};

} // namespace bench
