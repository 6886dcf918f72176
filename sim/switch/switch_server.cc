// The simulator's side of the switch seam: sockets under each device root.
#include "switch_server.h"

#include "../../libkite/transport/sim_wire.h"
#include "../driver/listen.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace sim {

struct SwitchServer::Conn {
	wlc::UniqueFd fd;
	std::unique_ptr<wlc::FdWatch> watch;
	bool closed = false;
};

struct SwitchServer::Listener {
	std::string ap;
	bool genl = false; // generic netlink, else Ethernet driver requests
	wlc::UniqueFd fd;
	std::unique_ptr<wlc::FdWatch> watch;
	std::list<Conn> conns;
};

SwitchServer::SwitchServer(World &world) : world_(world) {}

SwitchServer::~SwitchServer() = default;

bool SwitchServer::serve(const std::string &ap_name)
{
	Ap *ap = world_.find(ap_name);
	if (!ap)
		return false;
	for (bool genl : {true, false}) {
		auto l = std::make_unique<Listener>();
		l->ap = ap_name;
		l->genl = genl;
		l->fd = listen_seqpacket(ap->device.root + (genl ? kite::simwire::kGenlSocket : kite::simwire::kEthSocket));
		if (!l->fd)
			return false;
		Listener *raw = l.get();
		l->watch = std::make_unique<wlc::FdWatch>(l->fd.get(), [this, raw](unsigned) { accept(*raw); });
		l->watch->start(ULOOP_READ);
		listeners_.push_back(std::move(l));
	}
	return true;
}

void SwitchServer::accept(Listener &l)
{
	l.conns.remove_if([](const Conn &c) { return c.closed; });
	int fd;
	while ((fd = accept4(l.fd.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
		l.conns.push_back(Conn{wlc::UniqueFd(fd), nullptr});
		Conn *c = &l.conns.back();
		c->watch = std::make_unique<wlc::FdWatch>(fd, [this, &l, c](unsigned) { handle(l, *c); });
		c->watch->start(ULOOP_READ);
	}
}

void SwitchServer::handle(Listener &l, Conn &c)
{
	std::vector<uint8_t> msg(65536);
	ssize_t n = recv(c.fd.get(), msg.data(), msg.size(), MSG_DONTWAIT);
	if (n <= 0) {
		if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
			c.watch->stop();
			c.fd.reset();
			c.closed = true;
		}
		return;
	}
	msg.resize(static_cast<size_t>(n));
	Ap *ap = world_.find(l.ap);
	if (!ap)
		return;
	std::vector<std::vector<uint8_t>> answers;
	if (l.genl)
		answers = answer_genl(ap->sw, msg);
	else
		answers.push_back(answer_eth(ap->sw, msg));
	for (const auto &a : answers)
		send(c.fd.get(), a.data(), a.size(), MSG_NOSIGNAL);
}

} // namespace sim
