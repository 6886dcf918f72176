// The simulator's side of the driver seam.
#include "server.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "../../libzev/driver/sim_wire.h"
#include "events.h"
#include "listen.h"
#include "requests.h"

namespace sim {

struct DriverServer::Conn {
	wlc::UniqueFd fd;
	std::unique_ptr<wlc::FdWatch> watch;
	bool closed = false;
	// Events a subscriber's socket had no room for yet, sent in order as it
	// drains; a subscriber that stops reading loses what exceeds the cap.
	std::deque<std::vector<uint8_t>> backlog;
	static constexpr size_t kMaxBacklog = 16384;

	void queue(const std::vector<uint8_t> &datagram)
	{
		if (backlog.empty() && send(fd.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT) >= 0)
			return;
		if (backlog.empty() && errno != EAGAIN && errno != EWOULDBLOCK)
			return;
		if (backlog.size() < kMaxBacklog)
			backlog.push_back(datagram);
		if (backlog.size() == 1)
			watch->start(ULOOP_READ | ULOOP_WRITE);
	}

	void flush()
	{
		while (!backlog.empty()) {
			const auto &d = backlog.front();
			if (send(fd.get(), d.data(), d.size(), MSG_NOSIGNAL | MSG_DONTWAIT) < 0) {
				if (errno != EAGAIN && errno != EWOULDBLOCK)
					backlog.clear();
				break;
			}
			backlog.pop_front();
		}
		if (backlog.empty())
			watch->start(ULOOP_READ);
	}

	// Stops and closes; the entry itself is removed later, outside its own callback.
	void close()
	{
		watch->stop();
		fd.reset();
		closed = true;
	}
};

struct DriverServer::Device {
	std::string name;
	wlc::UniqueFd requests, events;
	std::unique_ptr<wlc::FdWatch> requests_watch, events_watch;
	std::list<Conn> conns;
	std::list<Conn> subscribers;
};

struct DriverServer::Scan {
	std::string ap;
	std::string ifname;
	int channel;
	std::unique_ptr<wlc::Timer> timer;
};

DriverServer::DriverServer(World &world) : world_(world) {}

DriverServer::~DriverServer() = default;

DriverServer::Device *DriverServer::device(const std::string &name)
{
	for (auto &d : devices_)
		if (d->name == name)
			return d.get();
	return nullptr;
}

bool DriverServer::serve(const std::string &ap_name)
{
	Ap *ap = world_.find(ap_name);
	if (!ap)
		return false;
	auto dev = std::make_unique<Device>();
	dev->name = ap_name;
	dev->requests = listen_seqpacket(ap->device.root + zev::simwire::kDriverSocket);
	dev->events = listen_seqpacket(ap->device.root + zev::simwire::kEventSocket);
	if (!dev->requests || !dev->events)
		return false;
	Device *raw = dev.get();
	dev->requests_watch = std::make_unique<wlc::FdWatch>(dev->requests.get(), [this, raw](unsigned) { accept_requests(*raw); });
	dev->events_watch = std::make_unique<wlc::FdWatch>(dev->events.get(), [this, raw](unsigned) { accept_events(*raw); });
	dev->requests_watch->start(ULOOP_READ);
	dev->events_watch->start(ULOOP_READ);
	devices_.push_back(std::move(dev));
	return true;
}

void DriverServer::accept_requests(Device &dev)
{
	dev.conns.remove_if([](const Conn &c) { return c.closed; });
	int fd;
	while ((fd = accept4(dev.requests.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
		dev.conns.push_back(Conn{wlc::UniqueFd(fd), nullptr, false, {}});
		Conn *conn = &dev.conns.back();
		conn->watch = std::make_unique<wlc::FdWatch>(fd, [this, &dev, conn](unsigned) { handle(dev, *conn); });
		conn->watch->start(ULOOP_READ);
	}
}

void DriverServer::accept_events(Device &dev)
{
	dev.subscribers.remove_if([](const Conn &c) { return c.closed; });
	int fd;
	while ((fd = accept4(dev.events.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK)) >= 0) {
		dev.subscribers.push_back(Conn{wlc::UniqueFd(fd), nullptr, false, {}});
		Conn *conn = &dev.subscribers.back();
		// A subscriber only ever hangs up (then it is forgotten), or makes
		// room for the events held back for it.
		conn->watch = std::make_unique<wlc::FdWatch>(fd, [conn](unsigned events) {
			char c;
			if ((events & ULOOP_READ) && (recv(conn->fd.get(), &c, 1, MSG_DONTWAIT) == 0 || conn->watch->eof())) {
				conn->close();
				return;
			}
			if (events & ULOOP_WRITE)
				conn->flush();
		});
		conn->watch->start(ULOOP_READ);
	}
}

void DriverServer::handle(Device &dev, Conn &conn)
{
	std::vector<uint8_t> msg(sizeof(zev::simwire::Request) + zev::simwire::kMaxData);
	ssize_t n = recv(conn.fd.get(), msg.data(), msg.size(), MSG_DONTWAIT);
	if (n <= 0) {
		if (n == 0 || (errno != EAGAIN && errno != EINTR))
			conn.close();
		return;
	}
	zev::simwire::Reply reply = {};
	std::vector<uint8_t> data_out;
	zev::simwire::Request req;
	if (static_cast<size_t>(n) < sizeof(req)) {
		reply.result = -1;
		reply.error = EINVAL;
	} else {
		std::memcpy(&req, msg.data(), sizeof(req));
		size_t data_len = std::min<size_t>(req.data_len, static_cast<size_t>(n) - sizeof(req));
		std::vector<uint8_t> ifr(req.ifr, req.ifr + sizeof(req.ifr));
		std::vector<uint8_t> data(msg.begin() + sizeof(req), msg.begin() + static_cast<long>(sizeof(req) + data_len));
		DriverEffects effects;
		effects.scan = [this, &dev](const std::string &ifname, int channel, int ms) { start_scan(dev, ifname, channel, ms); };
		effects.event = [this, &dev](std::vector<uint8_t> d) { broadcast(dev.name, d); };
		DriverAnswer a = answer_request(world_, *world_.find(dev.name), req.request, ifr, data, effects);
		reply.result = a.result;
		reply.error = a.error;
		std::memcpy(reply.ifr, req.ifr, sizeof(reply.ifr));
		if (!a.ifr.empty())
			std::memcpy(reply.ifr, a.ifr.data(), std::min(a.ifr.size(), sizeof(reply.ifr)));
		data_out = std::move(a.data);
	}
	reply.data_len = static_cast<uint32_t>(data_out.size());
	std::vector<uint8_t> out(sizeof(reply) + data_out.size());
	std::memcpy(out.data(), &reply, sizeof(reply));
	if (!data_out.empty())
		std::memcpy(out.data() + sizeof(reply), data_out.data(), data_out.size());
	send(conn.fd.get(), out.data(), out.size(), MSG_NOSIGNAL);
}

void DriverServer::broadcast(const std::string &ap_name, const std::vector<uint8_t> &datagram)
{
	Device *dev = device(ap_name);
	if (!dev)
		return;
	// A subscriber whose connect has returned gets every event from then on,
	// as with the kernel's socket, even before the loop got round to it.
	accept_events(*dev);
	for (Conn &sub : dev->subscribers)
		if (!sub.closed)
			sub.queue(datagram);
}

size_t DriverServer::subscribers(const std::string &ap_name)
{
	Device *dev = device(ap_name);
	if (!dev)
		return 0;
	accept_events(*dev);
	// A subscriber that hung up is only noticed once the loop reads its end.
	return static_cast<size_t>(std::count_if(dev->subscribers.begin(), dev->subscribers.end(), [](const Conn &c) {
		char b;
		return !c.closed && recv(c.fd.get(), &b, 1, MSG_PEEK | MSG_DONTWAIT) != 0;
	}));
}

void DriverServer::start_scan(Device &dev, const std::string &ifname, int channel, int duration_ms)
{
	scans_.remove_if([](const std::unique_ptr<Scan> &s) { return !s->timer->pending(); });
	auto scan = std::make_unique<Scan>();
	scan->ap = dev.name;
	scan->ifname = ifname;
	scan->channel = channel;
	Scan *raw = scan.get();
	scan->timer = std::make_unique<wlc::Timer>([this, raw] { finish_scan(*raw); });
	scan->timer->set(duration_ms);
	scans_.push_back(std::move(scan));
}

void DriverServer::finish_scan(Scan &scan)
{
	Ap *ap = world_.find(scan.ap);
	const Interface *i = ap ? ap->iface(scan.ifname) : nullptr;
	if (i && !ap->scans_stalled) {
		// As a driver does: the BSSs heard on the channel, then its statistics.
		for (const HeardBss &b : world_.scan(*ap, scan.channel))
			broadcast(scan.ap, events::bss(i->index, b));
		broadcast(scan.ap, events::chan_stats(i->index, scan.channel, world_.load(scan.channel), 10));
	}
	// The finished scan is dropped by the next start_scan, outside its own timer.
}

} // namespace sim
