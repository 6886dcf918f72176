#include "scripted_broker.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace masttest {

namespace {

constexpr int kConnect = 1, kPublish = 3, kPuback = 4, kPubrec = 5, kPubrel = 6, kSubscribe = 8, kPingreq = 12;

bool readable(int fd, std::chrono::milliseconds limit)
{
	pollfd p{fd, POLLIN, 0};
	return poll(&p, 1, static_cast<int>(limit.count())) == 1;
}

bool read_exact(int fd, uint8_t *to, size_t n, std::chrono::milliseconds limit)
{
	while (n > 0) {
		if (!readable(fd, limit))
			return false;
		ssize_t r = read(fd, to, n);
		if (r <= 0)
			return false;
		to += r;
		n -= static_cast<size_t>(r);
	}
	return true;
}

void put_u16(std::vector<uint8_t> &out, size_t v)
{
	out.push_back(static_cast<uint8_t>(v >> 8));
	out.push_back(static_cast<uint8_t>(v));
}

void put_length(std::vector<uint8_t> &out, size_t n)
{
	do {
		uint8_t b = n % 128;
		n /= 128;
		out.push_back(static_cast<uint8_t>(n > 0 ? b | 0x80 : b));
	} while (n > 0);
}

size_t u16_at(const std::vector<uint8_t> &b, size_t at)
{
	return at + 1 < b.size() ? static_cast<size_t>(b[at]) << 8 | b[at + 1] : 0;
}

} // namespace

std::string MqttPacket::topic() const
{
	size_t n = u16_at(body, 0);
	return 2 + n <= body.size() ? std::string(body.begin() + 2, body.begin() + 2 + static_cast<long>(n)) : "";
}

int MqttPacket::publish_mid() const
{
	return (header >> 1 & 3) > 0 ? static_cast<int>(u16_at(body, 2 + topic().size())) : 0;
}

std::string MqttPacket::payload() const
{
	size_t at = 2 + topic().size() + ((header >> 1 & 3) > 0 ? 2 : 0);
	return at <= body.size() ? std::string(body.begin() + static_cast<long>(at), body.end()) : "";
}

int MqttPacket::mid() const
{
	return static_cast<int>(u16_at(body, 0));
}

ScriptedConnection::~ScriptedConnection()
{
	close();
}

void ScriptedConnection::close()
{
	if (fd_ >= 0)
		::close(fd_);
	fd_ = -1;
}

bool ScriptedConnection::send(const std::vector<uint8_t> &bytes)
{
	return fd_ >= 0 && write(fd_, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

bool ScriptedConnection::publish_qos2(int mid, const std::string &topic, const std::string &payload)
{
	std::vector<uint8_t> body;
	put_u16(body, topic.size());
	body.insert(body.end(), topic.begin(), topic.end());
	put_u16(body, static_cast<size_t>(mid));
	body.insert(body.end(), payload.begin(), payload.end());
	std::vector<uint8_t> packet = {0x34};
	put_length(packet, body.size());
	packet.insert(packet.end(), body.begin(), body.end());
	return send(packet);
}

bool ScriptedConnection::ack(int type, int mid)
{
	uint8_t header = static_cast<uint8_t>(type << 4 | (type == kPubrel ? 2 : 0));
	return send({header, 2, static_cast<uint8_t>(mid >> 8), static_cast<uint8_t>(mid)});
}

std::optional<MqttPacket> ScriptedConnection::next(std::chrono::milliseconds limit)
{
	for (;;) {
		MqttPacket p;
		if (fd_ < 0 || !read_exact(fd_, &p.header, 1, limit))
			return std::nullopt;
		size_t len = 0, shift = 0;
		uint8_t b = 0;
		do {
			if (!read_exact(fd_, &b, 1, limit) || shift > 21)
				return std::nullopt;
			len |= static_cast<size_t>(b & 0x7f) << shift;
			shift += 7;
		} while (b & 0x80);
		p.body.resize(len);
		if (len > 0 && !read_exact(fd_, p.body.data(), len, limit))
			return std::nullopt;
		if (p.type() != kPingreq)
			return p;
		if (!send({0xd0, 0}))
			return std::nullopt;
	}
}

bool ScriptedConnection::answer(const MqttPacket &p)
{
	switch (p.type()) {
	case kConnect:
		return send({0x20, 2, 0, 0});
	case kSubscribe: {
		// One granted QoS 2 per filter: each is a length, the filter and its options byte.
		std::vector<uint8_t> codes;
		for (size_t at = 2; at + 2 <= p.body.size(); at += 2 + u16_at(p.body, at) + 1)
			codes.push_back(2);
		std::vector<uint8_t> out = {0x90};
		put_length(out, 2 + codes.size());
		put_u16(out, static_cast<size_t>(p.mid()));
		out.insert(out.end(), codes.begin(), codes.end());
		return send(out);
	}
	case kPublish: {
		int qos = p.header >> 1 & 3;
		published.push_back(p);
		return qos == 0 || !ack_publishes || ack(qos == 1 ? kPuback : kPubrec, p.publish_mid());
	}
	case kPubrel:
		return ack(7, p.mid());
	default:
		return true;
	}
}

std::optional<MqttPacket> ScriptedConnection::until(int type, std::chrono::milliseconds limit)
{
	auto end = std::chrono::steady_clock::now() + limit;
	while (std::chrono::steady_clock::now() < end) {
		auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
		std::optional<MqttPacket> p = next(left);
		if (!p)
			return std::nullopt;
		if (p->type() == type)
			return p;
		if (!answer(*p))
			return std::nullopt;
	}
	return std::nullopt;
}

bool ScriptedConnection::until_published(const std::string &topic, std::chrono::milliseconds limit)
{
	auto seen = [&] {
		for (const MqttPacket &p : published)
			if (p.topic() == topic)
				return true;
		return false;
	};
	auto end = std::chrono::steady_clock::now() + limit;
	while (!seen() && std::chrono::steady_clock::now() < end) {
		std::optional<MqttPacket> p =
			next(std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now()));
		if (!p || !answer(*p))
			return false;
	}
	return seen();
}

ScriptedBroker::ScriptedBroker(int port)
{
	fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
	int one = 1;
	setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
	sockaddr_in a{};
	a.sin_family = AF_INET;
	a.sin_port = htons(static_cast<uint16_t>(port));
	a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
	if (fd_ >= 0 && (bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof(a)) != 0 || listen(fd_, 4) != 0)) {
		::close(fd_);
		fd_ = -1;
	}
}

ScriptedBroker::~ScriptedBroker()
{
	if (fd_ >= 0)
		::close(fd_);
}

std::optional<ScriptedConnection> ScriptedBroker::accept(std::chrono::milliseconds limit)
{
	if (fd_ < 0 || !readable(fd_, limit))
		return std::nullopt;
	int c = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
	if (c < 0)
		return std::nullopt;
	return ScriptedConnection(c);
}

} // namespace masttest
