// What the benchmark programs share: starting programs, a private network
// namespace, a bus echo service as the baseline of bus round trips, and a
// threaded MQTT client.
#pragma once

#include <mosquitto.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <vector>

namespace bench {

// Starts argv (found through PATH) with env added to the environment.
pid_t spawn(const std::vector<std::string> &argv, const std::vector<std::string> &env = {});

// Ends a program started by spawn (SIGTERM, then waits for it); pid becomes -1.
void stop(pid_t &pid);
// Moves this process into a network namespace of its own with lo up.
bool private_network();
// A TCP connection to 127.0.0.1:port, or -1.
int connect_loopback(int port);
// True when something accepts TCP connections on 127.0.0.1:port.
bool port_open(int port);
// CPU seconds a process has used so far (user and system), from /proc.
double cpu_seconds(pid_t pid);
// Serves the object "bench" with a method "echo" answering its message, on the
// bus at socket; runs in a child process until killed.
[[noreturn]] void run_echo_service(const std::string &socket);

// The fields of a JSON object as a root blob attribute (an MQTT payload of the system).
std::vector<uint8_t> encode_json(const std::string &json);

// Client certificate files for a TLS connection.
struct TlsFiles {
	std::string ca, cert, key;
};

// A threaded MQTT client on 127.0.0.1 that counts messages and can answer them.
struct MqttClient {
	mosquitto *m = nullptr;
	std::mutex mu;
	std::condition_variable cv;
	uint64_t received = 0;
	std::function<void(const mosquitto_message *)> on_msg;

	explicit MqttClient(const char *id, int port = 1883, const TlsFiles *tls = nullptr);
	~MqttClient();
	MqttClient(const MqttClient &) = delete;
	MqttClient &operator=(const MqttClient &) = delete;
	void subscribe(const char *filter, int qos = 0);
	bool wait_for(uint64_t n, std::chrono::milliseconds limit = std::chrono::seconds(5));
};

// Plays the AP of a bare request/reply: answers every request published to
// .../request/... with {msg_id, data, code} on .../response/... (QoS 2).
void answer_requests(MqttClient &ap);

} // namespace bench
