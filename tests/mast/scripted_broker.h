// A broker played packet by packet over MQTT 3.1.1 on a loopback port, for
// what a real broker cannot be made to do on cue: end a connection between
// a QoS 2 message and its release.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace masttest {

struct MqttPacket {
	uint8_t header = 0; // the first byte: type and flags
	std::vector<uint8_t> body;

	[[nodiscard]] int type() const { return header >> 4; }
	// For PUBLISH: the topic, the message identifier (QoS 1 and 2) and the payload.
	[[nodiscard]] std::string topic() const;
	[[nodiscard]] int publish_mid() const;
	[[nodiscard]] std::string payload() const;
	// For acknowledgements and SUBSCRIBE: the identifier that opens the body.
	[[nodiscard]] int mid() const;
};

// One connection of a client, accepted by ScriptedBroker::accept.
class ScriptedConnection {
public:
	explicit ScriptedConnection(int fd) : fd_(fd) {}
	~ScriptedConnection();
	ScriptedConnection(ScriptedConnection &&o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
	ScriptedConnection(const ScriptedConnection &) = delete;
	ScriptedConnection &operator=(const ScriptedConnection &) = delete;

	// The next packet, answering PINGREQ on the way; none at a close or after the limit.
	std::optional<MqttPacket> next(std::chrono::milliseconds limit);
	// Reads until a packet of that type (others are answered as a broker
	// would: CONNECT, SUBSCRIBE, PUBLISH of QoS 1 and 2), and returns it.
	std::optional<MqttPacket> until(int type, std::chrono::milliseconds limit);
	// Answers a packet as a broker would: CONNACK, SUBACK granting QoS 2, the
	// acknowledgement of a PUBLISH (unless ack_publishes is off) and PUBCOMP.
	bool answer(const MqttPacket &p);
	// Reads and answers packets until the client has published a message on topic.
	bool until_published(const std::string &topic, std::chrono::milliseconds limit);
	bool send(const std::vector<uint8_t> &bytes);
	bool publish_qos2(int mid, const std::string &topic, const std::string &payload);
	bool ack(int type, int mid); // PUBACK, PUBREC, PUBREL, PUBCOMP
	void close();

	// What the connection's client published, in order.
	std::vector<MqttPacket> published;
	bool ack_publishes = true;

private:
	int fd_;
};

class ScriptedBroker {
public:
	explicit ScriptedBroker(int port);
	~ScriptedBroker();
	ScriptedBroker(const ScriptedBroker &) = delete;
	ScriptedBroker &operator=(const ScriptedBroker &) = delete;

	[[nodiscard]] bool listening() const { return fd_ >= 0; }
	std::optional<ScriptedConnection> accept(std::chrono::milliseconds limit);

private:
	int fd_ = -1;
};

} // namespace masttest
