// The test's stand-in for the switch sockets.
#include "fake_switch.h"

#include "transport/sim_wire.h"

#include <fsroot/fsroot.h>

#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kitetest {

namespace {

int listen_at(const std::string &path)
{
	int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
	sockaddr_un addr = {};
	addr.sun_family = AF_UNIX;
	std::strncpy(addr.sun_path, path.c_str(), sizeof(addr.sun_path) - 1);
	EXPECT_EQ(bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof(addr)), 0);
	EXPECT_EQ(listen(fd, 4), 0);
	return fd;
}

template <typename T>
void put(Bytes &b, T v)
{
	uint8_t raw[sizeof(T)];
	std::memcpy(raw, &v, sizeof(T));
	b.insert(b.end(), raw, raw + sizeof(T));
}

} // namespace

Bytes attr(uint16_t type, const Bytes &payload)
{
	Bytes b;
	put<uint16_t>(b, static_cast<uint16_t>(4 + payload.size()));
	put<uint16_t>(b, type);
	b.insert(b.end(), payload.begin(), payload.end());
	b.resize((b.size() + 3) & ~size_t(3), 0);
	return b;
}

Bytes attr_u32(uint16_t type, uint32_t v)
{
	Bytes p;
	put<uint32_t>(p, v);
	return attr(type, p);
}

Bytes nlmsg(uint16_t type, uint16_t flags, uint32_t seq, uint32_t port, const Bytes &payload)
{
	Bytes b;
	put<uint32_t>(b, static_cast<uint32_t>(16 + payload.size()));
	put<uint16_t>(b, type);
	put<uint16_t>(b, flags);
	put<uint32_t>(b, seq);
	put<uint32_t>(b, port);
	b.insert(b.end(), payload.begin(), payload.end());
	return b;
}

Bytes genl(uint8_t cmd, uint8_t version, const Bytes &attrs)
{
	Bytes b = {cmd, version, 0, 0};
	b.insert(b.end(), attrs.begin(), attrs.end());
	return b;
}

uint32_t seq_of(const Bytes &request)
{
	uint32_t v = 0;
	if (request.size() >= 16)
		std::memcpy(&v, request.data() + 8, 4);
	return v;
}

uint32_t port_of(const Bytes &request)
{
	uint32_t v = 0;
	if (request.size() >= 16)
		std::memcpy(&v, request.data() + 12, 4);
	return v;
}

Bytes ack(const Bytes &request, int32_t error)
{
	Bytes payload;
	put<int32_t>(payload, error);
	payload.insert(payload.end(), request.begin(), request.begin() + std::min<size_t>(16, request.size()));
	return nlmsg(2, 0, seq_of(request), port_of(request), payload);
}

Bytes masked(Bytes request)
{
	for (size_t i = 8; i < 16 && i < request.size(); i++)
		request[i] = 0;
	return request;
}

FakeSwitch::FakeSwitch(const wlctest::TempRoot &root, bool family, bool eth) : family_(family)
{
	genl_fd_ = listen_at(root.at(kite::simwire::kGenlSocket));
	if (eth)
		eth_fd_ = listen_at(root.at(kite::simwire::kEthSocket));
	EXPECT_EQ(pipe2(stop_, O_CLOEXEC), 0);
	setenv("WLC_ROOT", root.path().c_str(), 1);
	wlc::reload_fs_root();
	thread_ = std::thread([this] { run(); });
}

FakeSwitch::~FakeSwitch()
{
	if (write(stop_[1], "x", 1) != 1)
		ADD_FAILURE() << "cannot stop the fake switch";
	thread_.join();
	for (int fd : {genl_fd_, eth_fd_, stop_[0], stop_[1]})
		if (fd >= 0)
			close(fd);
	unsetenv("WLC_ROOT");
	wlc::reload_fs_root();
}

void FakeSwitch::on_genl(GenlAnswer a)
{
	std::lock_guard<std::mutex> lock(mu_);
	genl_answer_ = std::move(a);
}

void FakeSwitch::on_eth(EthAnswer a)
{
	std::lock_guard<std::mutex> lock(mu_);
	eth_answer_ = std::move(a);
}

std::vector<Bytes> FakeSwitch::genl_requests()
{
	std::lock_guard<std::mutex> lock(mu_);
	return genl_seen_;
}

std::vector<Bytes> FakeSwitch::eth_requests()
{
	std::lock_guard<std::mutex> lock(mu_);
	return eth_seen_;
}

namespace {

// The family controller's answer to a lookup of "mt753x".
std::vector<Bytes> family_answer(const Bytes &request, bool known)
{
	if (!known)
		return {ack(request, -2)};
	Bytes id = {static_cast<uint8_t>(kFamily), 0};
	Bytes name = {'m', 't', '7', '5', '3', 'x', 0};
	Bytes reply = nlmsg(0x10, 0, seq_of(request), port_of(request),
			    genl(1, 2, attr(1, id) + attr(2, name)));
	return {reply, ack(request, 0)};
}

} // namespace

void FakeSwitch::run()
{
	struct Conn {
		int fd;
		bool genl;
	};
	std::vector<Conn> conns;
	for (;;) {
		std::vector<pollfd> fds = {{stop_[0], POLLIN, 0}, {genl_fd_, POLLIN, 0}, {eth_fd_, POLLIN, 0}};
		for (const Conn &c : conns)
			fds.push_back({c.fd, POLLIN, 0});
		if (poll(fds.data(), fds.size(), -1) < 0)
			break;
		if (fds[0].revents)
			break;
		for (int i : {1, 2})
			if (fds[static_cast<size_t>(i)].revents & POLLIN)
				conns.push_back({accept4(fds[static_cast<size_t>(i)].fd, nullptr, nullptr, SOCK_CLOEXEC), i == 1});
		for (size_t i = 3; i < fds.size(); i++) {
			if (!fds[i].revents)
				continue;
			Conn &c = conns[i - 3];
			Bytes msg(65536);
			ssize_t n = recv(c.fd, msg.data(), msg.size(), 0);
			if (n <= 0) {
				close(c.fd);
				c.fd = -1;
				continue;
			}
			msg.resize(static_cast<size_t>(n));
			std::vector<Bytes> out;
			std::lock_guard<std::mutex> lock(mu_);
			if (c.genl) {
				genl_seen_.push_back(msg);
				uint16_t type = msg.size() >= 6 ? static_cast<uint16_t>(msg[4] | msg[5] << 8) : 0;
				if (type == 0x10)
					out = family_answer(msg, family_);
				else
					out = genl_answer_ ? genl_answer_(msg) : std::vector<Bytes>{ack(msg, 0)};
			} else {
				eth_seen_.push_back(msg);
				kite::simwire::IoctlRequest req = {};
				std::memcpy(&req, msg.data(), std::min(msg.size(), sizeof(req)));
				EthReply r;
				std::memcpy(r.words, req.words, sizeof(r.words));
				if (eth_answer_)
					r = eth_answer_(req.request, Bytes(req.ifr, req.ifr + sizeof(req.ifr)), req.words);
				kite::simwire::IoctlReply reply = {r.result, r.error, {r.words[0], r.words[1], r.words[2]}};
				out.push_back(Bytes(reinterpret_cast<uint8_t *>(&reply), reinterpret_cast<uint8_t *>(&reply) + sizeof(reply)));
			}
			for (const Bytes &b : out)
				send(c.fd, b.data(), b.size(), MSG_NOSIGNAL);
		}
		std::erase_if(conns, [](const Conn &c) { return c.fd < 0; });
	}
	for (const Conn &c : conns)
		close(c.fd);
}

} // namespace kitetest

namespace kitetest {

Bytes operator+(Bytes a, const Bytes &b)
{
	a.insert(a.end(), b.begin(), b.end());
	return a;
}

} // namespace kitetest
